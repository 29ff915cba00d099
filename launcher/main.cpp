// Entry point of the launcher stub.
#include "launcher/startup.h"

int main(int argc, char** argv) { return qlx::runLauncher(argc, argv); }
