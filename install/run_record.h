// The record a run leaves of the kit it installs (kit_record.h): built
// from the kit once the kit is whole, and put in place by the run like one
// of its files, journaled, so that a run cut off at any instant leaves the
// catalog with its old record or its new one, each matching the files.
//
// The install worker thread.
#ifndef QXR8_INSTALL_RUN_RECORD_H_
#define QXR8_INSTALL_RUN_RECORD_H_

#include <cstdint>

#include "install/install_data.h"
#include "install/install_plan.h"
#include "install/kit_record.h"
#include "install/record_folder.h"
#include "platform/status.h"

// The record of `kit` (kWhole), whose plan is `plan`, installed at
// `installedAt` (seconds since 1970): every file the plan names, once (the
// last entry of a name is the one the catalog keeps), with its size, time
// and the hash of the kit's bytes. Fails with the kit's failure to hash an
// entry.
Status build_run_record(KitReader& kit, const InstallPlan& plan, int64_t installedAt,
                        KitRecord& out);

// Whether `own`, the caller's record of this kit (may be null), already
// says what a new record would but for the time, the hashes and the kit
// file's name (a kit copied under another name is the same kit): the same
// product records, signer, and files with the same names, sizes and times. Such a record stays, and a run that writes no file then
// leaves the catalog untouched; the kit's table alone decides, so that
// this costs no inflation.
bool record_is_current(const FoundRecord* own, const KitReader& kit, const InstallPlan& plan);

// The signer a record of `kit` names: its origin check's, when the key is
// trusted and the signature was checked.
void set_record_signer(const KitReader& kit, KitRecord& record);

#endif  // QXR8_INSTALL_RUN_RECORD_H_
