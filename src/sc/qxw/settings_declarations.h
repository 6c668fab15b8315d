// The declared settings of the framework and the card service: six groups of
// descriptions that are validated before their keys are read (which fills in
// the defaults) and printed, with their titles, by the "-h" help.
#pragma once

#include "service/program_settings/setting_descriptions.h"

namespace ZORVIK::qxw {

// Titles of the groups as the help prints them; the transport group has none.
inline constexpr char FrameworkTitle[] = "настройки QXW";
inline constexpr char LoggingTitle[] = "настройки логирования";
inline constexpr char CardWorkTitle[] = "настройки работы с картой";
inline constexpr char TransportTitle[] = "";
inline constexpr char OsTitle[] = "настройки ОС";

// reader, reader2, random_seed_value: validated by the framework at start.
const DescriptionGroup& FrameworkSettings();
// log_level .. log_format: validated by the framework before it builds the logs.
const DescriptionGroup& FrameworkLogSettings();
// log_dir, the directory of the APDU log: validated for every card service.
const DescriptionGroup& CardServiceLogSettings();
// power_on .. disable_user_input: validated under the reader group's prefix.
const DescriptionGroup& CardWorkSettings();
// auto_t0, get_resp_cla_00, envelope_mode: validated under the group's prefix.
const DescriptionGroup& TransportSettings();
// os_version: validated by the OS-version step under the group's prefix.
const DescriptionGroup& OsSettings();

}  // namespace ZORVIK::qxw
