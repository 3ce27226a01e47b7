// vkt: the network reachability monitor daemon. It reads no arguments.
#include "daemon/vktapp.h"

int main() { return RunDaemon(); }
