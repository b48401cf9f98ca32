#!/bin/sh
# Prints one table of figures from the bench programs given as arguments;
# their diagnostics (Qt's platform notes) are left out of the table.
echo "| figure | value | target |"
echo "|---|---|---|"
status=0
for program in "$@"; do
    "$program" 2>/dev/null || status=1
done
exit $status
