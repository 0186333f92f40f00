// The folder-picking dialog behind the settings dialog's "&Browse".
#pragma once

#include <string>

class QWidget;

namespace quenloft {

class clsBrowse {
public:
    std::string OutputPath; // the folder chosen by the last BrowseForFolder; empty: cancelled
    std::string Caption;    // the dialog's instruction

    // Shows a modal dialog, owned by `hwnd`, in which only folders can be chosen. The
    // path has no trailing "/" unless it is the root.
    void BrowseForFolder(QWidget* hwnd);
};

} // namespace quenloft
