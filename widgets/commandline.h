// What every window program does with its arguments before it has a window:
// --help and --version are answered without a display, so that they work
// over ssh, in a package check and for help2man.
#pragma once

class QCommandLineParser;

// Parses the arguments (Qt's own -platform and the like are single-dash
// words, never letters of -hv). True when --help was answered and the
// program should exit; --version prints and exits by itself.
bool answeredWithoutDisplay(QCommandLineParser &parser, int argc, char **argv);
