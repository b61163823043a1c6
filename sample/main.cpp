// The maintenance tool: status, identity, remote status and firmware update of an adapter.
#include "console/entry.h"
#include "sample/handlers.h"

int main() { return console::RunTool(SampleTool()); }
