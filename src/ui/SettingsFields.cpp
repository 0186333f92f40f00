#include "ui/SettingsFields.h"

#include "base/Error.h"

namespace quenloft {

namespace {

// A check box takes only 0, 1 and 2; any other value is refused.
int16_t CheckBoxValue(const Variant& value) {
    int16_t state = value.ToInteger();
    if (state < Unchecked || state > Grayed) {
        throw Error::Runtime(ErrInvalidArgument, "CheckBox.Value");
    }
    return state;
}

void LoadCheckBox(const clsSettings& store, const char* key, int16_t fallback, int16_t& box) {
    ResumeNext([&] { box = CheckBoxValue(store.VariableValue(key, Variant(fallback))); });
}

// The list holds one entry per element of a stored array; an element that has no
// text form is left out.
void LoadIndexNames(const clsSettings& store, std::vector<std::string>& list) {
    list.clear();
    Variant names = store.VariableValue("IndexNames");
    if (!names.IsArray()) {
        return;
    }
    for (const Variant& name : names.Items()) {
        ResumeNext([&] { list.push_back(name.ToText()); });
    }
}

Variant IndexNamesValue(const std::vector<std::string>& list) {
    if (list.empty()) {
        return Variant();
    }
    std::vector<Variant> items(list.begin(), list.end());
    return Variant::Array(std::move(items), 0);
}

} // namespace

void LoadFields(const clsSettings& store, SettingsFields& fields) {
    ResumeNext([&] { fields.IndexPath = store.VariableValue("IndexPath", Variant("")).ToText(); });
    LoadCheckBox(store, "DLEnabled", Checked, fields.DLEnable);
    LoadCheckBox(store, "DLShowHiddenFiles", Unchecked, fields.DLShow);
    LoadCheckBox(store, "DLShowSize", Checked, fields.SizeColumn);
    LoadCheckBox(store, "DLShowDate", Checked, fields.DateColumn);
    ResumeNext(
        [&] { fields.Port = store.VariableValue("ServerPort", Variant(int16_t(80))).ToText(); });
    ResumeNext([&] { LoadIndexNames(store, fields.IndexFiles); });
}

void SaveFields(const SettingsFields& fields, clsSettings& store) {
    Variant names = IndexNamesValue(fields.IndexFiles);
    store.SetVariableValue("IndexPath", Variant(fields.IndexPath));
    store.SetVariableValue("IndexNames", names);
    store.SetVariableValue("DLEnabled", Variant(fields.DLEnable));
    store.SetVariableValue("DLShowHiddenFiles", Variant(fields.DLShow));
    store.SetVariableValue("DLShowSize", Variant(fields.SizeColumn));
    store.SetVariableValue("DLShowDate", Variant(fields.DateColumn));
    store.SetVariableValue("ServerPort", Variant(fields.Port));
}

} // namespace quenloft
