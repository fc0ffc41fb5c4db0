// Single settings of a device by name, as a script gives them ("setpoint1=80,5",
// "characteristic2=root", "range1=0-100"): each changes the record's block as the main
// window's list or edit of that setting does, with the same limits — the model's channels,
// the controls the non-privileged mode locks, the setpoint's value check.
#pragma once

#include <string>
#include <vector>

#include "device/Obrnastr.h"

// The settings' names and values, for the command's help.
extern const char* const kSettingsHelp;

// Why the assignments cannot be settings at all (an unknown name, no "="); empty when each
// can be. Checked before the line is touched.
std::string CheckSettingNames(const std::vector<std::string>& assignments);

// Applies the assignments to the record of a device just read: every setting but the
// setpoints in the order given, then the setpoints, which are checked against their channel's
// input range as it then stands. Returns why the first refused one is refused, or empty; the
// record's block may be partly changed on a refusal.
std::string ApplySettings(TProgVEKClass& record, const std::vector<std::string>& assignments);
