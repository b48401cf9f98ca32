# Turns the "Environment:" and "Exit status:" paragraphs of a program's --help
# into help2man's include form, for manual pages made from a subcommand's help,
# which does not repeat them. Items are "  NAME  text", continued indented.
/^Environment:$/ { print "[ENVIRONMENT]"; in_section = 1; next }
/^Exit status:$/ { print "[EXIT STATUS]"; in_section = 1; next }
/^[^ ]/ { in_section = 0; next }
in_section && /^  [^ ]/ {
    name = $1
    text = $0
    sub(/^  [^ ]+ +/, "", text)
    gsub(/-/, "\\-", name)
    gsub(/-/, "\\-", text)
    print ".TP"
    print "\\fB" name "\\fR"
    print text
    next
}
in_section && /^   +[^ ]/ {
    text = $0
    sub(/^ +/, "", text)
    gsub(/-/, "\\-", text)
    print text
}
