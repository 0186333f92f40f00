// The fields of the settings dialog as plain values, and how they are read from and
// written to the settings store. The dialog only moves these values in and out of its
// controls.
#pragma once

#include "store/clsSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenloft {

// Check-box values.
inline constexpr int16_t Unchecked = 0;
inline constexpr int16_t Checked = 1;
inline constexpr int16_t Grayed = 2;

struct SettingsFields {
    std::string IndexPath;               // txtIndexPath
    std::string Port = "80";             // txtPort
    std::vector<std::string> IndexFiles; // lstIndexFiles, in list order
    int16_t DLEnable = Unchecked;        // chkDLEnable
    int16_t DLShow = Unchecked;          // chkDLShow
    int16_t SizeColumn = Unchecked;      // chkSizeColumn
    int16_t DateColumn = Unchecked;      // chkDateColumn

    friend bool operator==(const SettingsFields&, const SettingsFields&) = default;
};

// Fills every field from the store, each with its default when its key is missing. A
// step that fails (a value a field cannot take) is skipped and leaves that field as
// it was.
void LoadFields(const clsSettings& store, SettingsFields& fields);
// Writes every field into the store; missing keys are created in the order "IndexPath",
// "IndexNames", "DLEnabled", "DLShowHiddenFiles", "DLShowSize", "DLShowDate",
// "ServerPort". The port is stored as the text typed, unchecked.
void SaveFields(const SettingsFields& fields, clsSettings& store);

} // namespace quenloft
