#include "config/config_locations.h"

#include "platform/process_services.h"
#include "platform/string_utils.h"

wstring get_local_config_file_dir() { return home_dir() + kPathSeparator + kStartrDir; }

wstring get_local_config_file_path() {
  return get_local_config_file_dir() + kPathSeparator + kStartFileName;
}

wstring get_local_config_file_dir_base() { return home_dir() + kPathSeparator + kStartrDirt; }

wstring get_local_config_file_path_base() {
  return get_local_config_file_dir_base() + kPathSeparator + kStartFileName;
}

wstring get_allusers_config_file_dir() {
  return app_data_dir(true) + kPathSeparator + kStartrDir;
}

wstring get_allusers_config_file_path() {
  return get_allusers_config_file_dir() + kPathSeparator + kStartFileName;
}

wstring get_allusers_config_file_path_base() {
  return get_local_config_file_dir() + kPathSeparator + kStartFileName;
}

wstring get_allusers_config_file_dir_base() { return app_data_dir(true) + kStartrDirt; }

wstring r8_app_data_dir(bool flag) {
  return app_data_dir(flag) + u"Qx" + kPathSeparator + u"qxr" + string_ito(8, 10) +
         kPathSeparator;
}

wstring r8_app_data_dir_82(bool flag) {
  return app_data_dir(flag) + u"Qx" + kBadPathSeparator + u"Qxr" + string_ito(8, 10) +
         string_ito(2, 10) + kBadPathSeparator;
}
