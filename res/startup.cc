// The program's first static initialiser. Priority 101 is the earliest that
// a program may use, so this runs before every other static constructor of
// the program (whatever the link order): the memory manager must exist before
// anything allocates, and the string tables must be complete before any
// static object can ask for a text.
//
// Nothing references this file; it is linked into every executable as an
// object file through the qxr8_runtime target, since a static library would
// drop it.
#include "memory/memory_manager.h"
#include "res/string_table.h"

namespace {

struct ProgramStartup {
  ProgramStartup() {
    create_memory_manager();
    build_string_tables();
  }
};

ProgramStartup g_programStartup __attribute__((init_priority(101)));

}  // namespace
