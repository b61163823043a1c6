// The script tool: one adapter command per run, for scripts, with exit statuses and JSON.
#include "plcctl/run.h"

int main(int argc, char** argv) { return plcctl::Main(argc, argv); }
