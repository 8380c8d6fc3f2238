// What an installation does with each entry of a kit, decided before
// anything is written: the run executes its plan, checks the room it needs
// from it, and the dry run prints it, so the three cannot drift apart.
//
// Reads the catalog, writes nothing. The caller's thread; the kit must not
// be used by another thread meanwhile.
#ifndef QXR8_INSTALL_INSTALL_PLAN_H_
#define QXR8_INSTALL_INSTALL_PLAN_H_

#include <string>
#include <vector>

#include "install/entry_decision.h"
#include "install/install_data.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct PlannedEntry {
  wstring name;  // normalised, relative to the catalog
  std::string systemName;  // the same as the system's bytes, converted once
  EntryAction action = EntryAction::kKeep;
  // What the run meets there: an earlier entry's planned write counts.
  ExistingCopy existing;
  // What the catalog holds there before the run: no planned write counts.
  ExistingCopy onDisk;
  // Filled by plan_install for an entry to be written whose folder is
  // reached through a link (the user's own): where it really lands.
  wstring landsAt;
};

struct InstallPlan {
  // In kit order; a refusal is the last one planned (the run stops there).
  std::vector<PlannedEntry> entries;
  unsigned long filesNew = 0;
  unsigned long filesReplaced = 0;
  unsigned long upToDate = 0;
  // The sum of the sizes of the entries to be written.
  uint64_t bytesToWrite = 0;
  // The code and path the run stops with at the refused last entry; kept
  // once for the plan, as only one entry can be refused.
  Status refusal;

  unsigned long writes() const { return filesNew + filesReplaced; }

  bool refused() const {
    return !entries.empty() && entries.back().action == EntryAction::kRefuse;
  }
};

// Decides every entry of `entries` in kit order, as the run meets them:
// an entry planned to be written counts, for the entries after it, as the
// file this run placed there (under its name and under any other name that
// reaches the same folder), and the folders it needs as made, so that two
// names of one file, or a file where a later entry needs a folder, are
// planned as the run will do them. `catalogPath` (ends with "/") names the
// catalog in refusals; `catalog` is the catalog open, or null when it does
// not exist yet. Stops after the first refusal.
InstallPlan plan_entries(const std::vector<config::KitEntry>& entries, const wstring& catalogPath,
                         const Directory* catalog);

// The dry run's plan of installing `kit` (opened) into `catalog`, the path
// as a run receives it (a final "/" added when missing). Returns 0, or the
// refusal the run would stop with (its code and path in `failure`; the plan
// then ends with it), or the Status of a catalog that exists but cannot be
// opened as a folder. `opened`, when given, keeps the catalog the plan was
// made from (not open when the catalog does not exist). Each entry to be
// written whose folder a link leads to gets `landsAt`.
unsigned plan_install(const KitReader& kit, const wstring& catalog, InstallPlan& plan,
                      Status& failure, Directory* opened = nullptr);
// The same for a table of `entries` (a kit's, or what a record lists).
unsigned plan_install_of(const std::vector<config::KitEntry>& entries, const wstring& catalog,
                         InstallPlan& plan, Status& failure, Directory* opened = nullptr);

// What a run must have of `kit` before it carries out `plan`: when the plan
// writes anything, the whole unpacked kit, so a kit read table first
// (KitReader::openTable) is inflated the rest of the way, on a thread of
// its own while the entries whose bytes have arrived are written out
// (KitReader::completeInBackground); a plan that writes nothing needs no
// more than the table it was made from. Without `background` (a process
// short of descriptors) the rest is inflated here and now, which closes
// the kit's file before the run writes anything: success, or the failure
// named after the kit (13 for damage). The run's thread.
Status unpack_kit_for_plan(const InstallPlan& plan, KitReader& kit, bool background);

// Before a run that wrote from a kit read table first commits: the
// inflation of the rest has ended and found the kit whole. Success, or its
// failure (13 for damage, 112 when the temporary directory is full) named
// after the kit (KitReader::kitPath); the reader is closed then.
Status kit_found_whole(KitReader& kit);

#endif  // QXR8_INSTALL_INSTALL_PLAN_H_
