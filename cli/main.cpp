// harvesta: gets files back out of backup disk images on Linux.
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Harvesta: restore files from *.qvimg and *.qvbak backup images"};
  app.require_subcommand(1);
  AddListCommand(app);
  AddMakeImageCommand(app);
  AddMountCommand(app);
  AddUnmountCommand(app);
  AddMountsCommand(app);
  AddExportCommand(app);
  AddRestoreCommand(app);
  AddVerifyCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;  // --help succeeds; any usage error is a failure
  } catch (const CommandError& e) {
    std::cerr << e.what() << '\n';
    return e.Status;
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  } catch (const char* message) {  // the image reader's and archive's texts
    std::cerr << message << '\n';
    return 1;
  }
  return 0;
}
