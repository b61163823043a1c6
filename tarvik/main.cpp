// The command tool: sends free-text system commands to an adapter and restarts it.
#include "console/entry.h"
#include "tarvik/handlers.h"

int main() { return console::RunTool(TarvikTool()); }
