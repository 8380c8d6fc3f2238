// Where the launcher's configuration files and the product's per-user data
// live. Pure path arithmetic: nothing here touches the disk. Any thread.
//
// Plain concatenation throughout: the all-users directory deliberately keeps
// the doubled separator that app_data_dir's trailing "/" produces, because
// paths stored by earlier versions were built the same way.
#ifndef QXR8_CONFIG_CONFIG_LOCATIONS_H_
#define QXR8_CONFIG_CONFIG_LOCATIONS_H_

#include "platform/wstring.h"

// File name of every launcher configuration file.
inline constexpr char16_t kStartFileName[] = u"qxlaunch.cfg";
// Launcher directory below a base directory.
inline constexpr char16_t kStartrDir[] = u".Qx/qxlaunch";
// Alternative launcher directory of the base locations and the save fallback.
inline constexpr char16_t kStartrDirt[] = u".Qx/qxlauncht";

// Keys of the launcher file. Only the first is interpreted; the others are
// named so that their survival across a rewrite can be relied on and tested.
inline const char16_t* const kConfigFileFieldTemplatesLocation = u"ConfigurationTemplatesLocation";
inline const char16_t* const kConfigFileFieldInstallComponents = u"InstallComponents";
inline const char16_t* const kConfigFileFieldCommonCfgLocation = u"CommonCfgLocation";
inline const char16_t* const kConfigFileFieldDistributionFolder = u"DistributiveLocation";
inline const char16_t* const kConfigFileFieldInstalledFolder = u"InstalledLocation";
inline const char16_t* const kConfigFileFieldCommonBase = u"CommonInfoBases";
inline const char16_t* const kConfigFileFieldDefaultVersion = u"DefaultVersion";

// home_dir() + "/" + ".Qx/qxlaunch"
wstring get_local_config_file_dir();
// get_local_config_file_dir() + "/" + "qxlaunch.cfg"
wstring get_local_config_file_path();
// home_dir() + "/" + ".Qx/qxlauncht"
wstring get_local_config_file_dir_base();
// get_local_config_file_dir_base() + "/" + "qxlaunch.cfg"
wstring get_local_config_file_path_base();
// app_data_dir(true) + "/" + ".Qx/qxlaunch" (separator doubled on purpose)
wstring get_allusers_config_file_dir();
// get_allusers_config_file_dir() + "/" + "qxlaunch.cfg"
wstring get_allusers_config_file_path();
// In base mode the all-users role is played by the ordinary per-user file.
wstring get_allusers_config_file_path_base();
// app_data_dir(true) + ".Qx/qxlauncht"
wstring get_allusers_config_file_dir_base();
// app_data_dir(flag) + "Qx/qxr8/": the product's per-user data directory,
// ending in a separator.
wstring r8_app_data_dir(bool flag);
// app_data_dir(flag) + "Qx\Qxr82\" (backslashes, as older versions stored it).
wstring r8_app_data_dir_82(bool flag);

#endif  // QXR8_CONFIG_CONFIG_LOCATIONS_H_
