// tamsel-cli: the recovery engine without a window, for scripts and examiners.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"Tamsel: find and recover contacts, messages, notes and files from phone backups"};
  app.set_version_flag("--version", std::string("tamsel-cli ") + TAMSEL_VERSION);
  app.require_subcommand(0, 1);
  CLI11_PARSE(app, argc, argv);
  if (app.get_subcommands().empty()) {
    std::cout << app.help();
  }
  return 0;
}
