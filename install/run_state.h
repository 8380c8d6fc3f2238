// Where a run keeps what it needs to be undone: one hidden folder inside
// the catalog it installs into, made (mode 0700) when the run starts and
// removed when it commits or has been rolled back. It holds the run's
// journal (run_journal.h), its backup tree, which mirrors the catalog, the
// files it writes before they take their names (stage/), and what an undo
// takes out of the catalog before it is sure it may delete it (trash/).
// Living in the catalog, it is on the catalog's own file system (a backup
// or a placement is a rename, and survives a reboot) and every later run
// into the catalog finds it, whatever its TMPDIR, HOME or locale. Its
// standing is the mark that the catalog holds a run's unfinished work: a
// journal is only ever replayed while its folder stands, over the catalog
// it describes, by the user who owns it (state_folder.h).
//
// No kit entry can reach it: a backslash in a kit name is a separator, so
// no catalog path a kit names has a component holding one.
#ifndef QXR8_INSTALL_RUN_STATE_H_
#define QXR8_INSTALL_RUN_STATE_H_

inline constexpr char16_t kRunStateFolderName[] = u".qxr8\\run";
inline constexpr char kRunStateFolderSystemName[] = ".qxr8\\run";
inline constexpr char kRunJournalName[] = "journal";
inline constexpr char kRunBackupFolderName[] = "backup";
inline constexpr char kRunStageFolderName[] = "stage";
inline constexpr char kRunTrashFolderName[] = "trash";

// The state folder and the backups hold the user's files: nobody else may
// read them. A catalog whose folders pass their group on (setgid) passes
// that bit to the state folder too, and only that bit is added.
inline constexpr unsigned kRunStateMode = 0700;

#endif  // QXR8_INSTALL_RUN_STATE_H_
