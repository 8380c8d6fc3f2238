// A registration in a process of its own, for the tests that need another
// user (run under setpriv) or several registrations at once.
//
//   config_register_helper CATALOG [wait]
//
// Reads the catalog list as the wizard does at start-up; with "wait" it then
// writes one byte to standard output and waits for one byte (or the end) on
// standard input before registering, so that a test can start several
// registrations that all read before any writes. Exits with the
// registration's result: 0, 1 or 2; 3 for any other failure.
#include <unistd.h>

#include <cstring>

#include "config/catalog_registration.h"
#include "platform/text_encoding.h"

int main(int argc, char** argv) {
  if (argc < 2) return 3;
  CatalogRegistration reg = read_catalog_registration();
  if (argc > 2 && std::strcmp(argv[2], "wait") == 0) {
    char byte = 'r';
    if (write(STDOUT_FILENO, &byte, 1) != 1) return 3;
    if (read(STDIN_FILENO, &byte, 1) < 0) return 3;
  }
  const int rc = register_catalog(reg, widen_lib(argv[1]));
  return rc == 0 || rc == 1 || rc == 2 ? rc : 3;
}
