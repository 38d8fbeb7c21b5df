// harvesta: gets files back out of backup disk images on Linux.
#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Harvesta: restore files from *.qvimg and *.qvbak backup images"};
  app.require_subcommand(1);
  AddListCommand(app);
  AddMakeImageCommand(app);
  CLI11_PARSE(app, argc, argv);
  return 0;
}
