// The checks made before a kit is used, in the order the wizard and the kit
// tool both make them: the kit is there, the temporary directory has room
// for it, and it opens. Main thread, before any install worker exists.
#ifndef QXR8_INSTALL_PREINSTALL_CHECKS_H_
#define QXR8_INSTALL_PREINSTALL_CHECKS_H_

#include <cstdint>

#include "install/install_data.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Free space the temporary directory needs, in multiples of the kit's size:
// the unpacked kit, and the backups of the files a run replaces.
inline constexpr int kSpaceReg = 3;

// Whether a file is at `kitPath` (the directory can be listed and holds
// the name).
bool kit_exists(const wstring& kitPath);

// Why kit_exists(kitPath) is false, named after the kit's path: ENOENT when
// nothing is there, else the errno of the folder or file that could not be
// looked at (EACCES for a folder the user may not read), so that a kit the
// user cannot reach is not called missing. Code 2 without an errno for an
// empty path. Success when the kit is there after all.
Status kit_absence(const wstring& kitPath);

// False when the temporary directory has less than kSpaceReg times the
// kit's size free; `freeBytes` and `neededBytes` then say how much. True
// when either number cannot be read (nothing is refused then).
bool temporary_space_suffices(const wstring& kitPath, uint64_t& freeBytes, uint64_t& neededBytes);

// How opening a kit ended.
enum class KitOpenResult {
  kOpened,
  kNoSpace,  // it would fill the temporary directory (112, 223): the user can make room
  kDamaged,  // any other code; a kit whose tables ask for more memory than there is too
};

// How much of the kit open_kit inflates: all of it (the wizard), or, for a
// kit whose trailer checks its table, the table alone until the run needs
// the rest (KitReader::openTable).
enum class KitReading { kWhole, kTableFirst };

// Opens the kit at `kitPath` into `kit`; `code` gets the reader's code (13
// for a kit that exhausted memory).
KitOpenResult open_kit(const wstring& kitPath, KitReader& kit, unsigned& code,
                       KitReading reading = KitReading::kWhole);

#endif  // QXR8_INSTALL_PREINSTALL_CHECKS_H_
