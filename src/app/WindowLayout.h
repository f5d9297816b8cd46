#pragma once
// The main window's controls: kind, name, first text and place, in twips (15 twips make a pixel).
// The window is built from this table, and its test checks the window against it.

#include <QRect>

#include <string_view>

namespace WindowLayout {

inline constexpr int kTwipsPerPixel = 15;

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

// What a control's place is measured from: the window's client area, the tab control (for the
// controls of its pages, wherever it puts the pages), or the frame that holds it.
enum class Container { Client, TabControl, Frame };

struct Control
{
    const char *name;
    const char *kind; // the widget's class
    const char *text; // its first caption; nullptr for a control without one
    int left, top, width, height;
    Container container;

    QRect pixels() const { return twips(left, top, width, height); }
};

inline constexpr int kClientWidth = 9015;
inline constexpr int kClientHeight = 7050;
inline constexpr int kListColumnWidth = 1440;

inline constexpr Control kControls[] = {
    {"tabApplication", "QTabWidget", nullptr, 120, 180, 8775, 6240, Container::Client},
    // Tab 0, "Search"
    {"lblSearchlabel", "QLabel", "Search pharse:", 240, 720, 1455, 255, Container::TabControl},
    {"txtSearchList", "QLineEdit", "", 1680, 705, 4815, 375, Container::TabControl},
    {"cmdSearch", "QToolButton", "&Search", 6600, 600, 855, 675, Container::TabControl},
    {"lblFileSearchMsg", "QLabel", "", 240, 1560, 3135, 255, Container::TabControl},
    {"lblFileSearchFound", "QLabel", "File Found:", 3600, 1560, 1215, 255, Container::TabControl},
    {"pgbrFileSearch", "QProgressBar", nullptr, 4800, 1560, 3855, 255, Container::TabControl},
    {"lvwFileSearch", "QTreeView", nullptr, 120, 2040, 8535, 3735, Container::TabControl},
    {"lblFileSerached", "QLabel", "Files Found: 0", 200, 5880, 2175, 255, Container::TabControl},
    {"cmdClearList", "QPushButton", "Clear List", 7620, 5820, 1035, 315, Container::TabControl},
    // Tab 1, "Add to Database"
    {"Label1", "QLabel", "Take backup of the CD content.", 240, 600, 6135, 255, Container::TabControl},
    {"Label2", "QLabel", "Select CD-Drive:", 240, 960, 3255, 255, Container::TabControl},
    {"cboSelectDrive", "QComboBox", nullptr, 1800, 915, 2655, 315, Container::TabControl},
    {"cmdTakeBackup", "QPushButton", "List Files", 4560, 885, 1335, 375, Container::TabControl},
    {"cmdAddToDB", "QPushButton", "Add to Database", 6000, 885, 1815, 375, Container::TabControl},
    {"lblDirectory", "QLabel", "", 240, 1440, 3255, 495, Container::TabControl},
    {"lblDirScanned", "QLabel", "Dir Scanned:", 3600, 1440, 1215, 255, Container::TabControl},
    {"pgbrDir", "QProgressBar", nullptr, 4800, 1440, 3855, 255, Container::TabControl},
    {"lblFile", "QLabel", "", 120, 1920, 3255, 255, Container::TabControl},
    {"lblFileScanned", "QLabel", "File Scanned:", 3600, 1920, 1215, 255, Container::TabControl},
    {"pgbrFile", "QProgressBar", nullptr, 4800, 1920, 3855, 255, Container::TabControl},
    {"lvwListFile", "QTreeView", nullptr, 120, 2400, 8535, 3375, Container::TabControl},
    {"lblFilesFound", "QLabel", "Files Found: 0", 120, 5880, 2175, 255, Container::TabControl},
    // Tab 2, "Options": hidden controls that only carry the two settings
    {"fraSelectDataBase", "QGroupBox", "CD - DataBase File Location", 240, 720, 8295, 975,
     Container::TabControl},
    {"txtDatabasepath", "QLineEdit", nullptr, 120, 360, 6495, 375, Container::Frame},
    {"cmdBrowse", "QPushButton", "Select File...", 6720, 360, 1455, 375, Container::Frame},
    {"fraOptions", "QGroupBox", "Options", 240, 2040, 8295, 855, Container::TabControl},
    {"chkSaveSettings", "QCheckBox", "Save last used settings", 240, 360, 4215, 195, Container::Frame},
    // Outside the tab control
    {"cmdOK", "QPushButton", "OK", 6360, 6540, 1215, 375, Container::Client},
    {"cmdCancel", "QPushButton", "Cancel", 7680, 6540, 1215, 375, Container::Client},
};

// The row of the control with this name (every control the window builds has one).
constexpr const Control &control(std::string_view name)
{
    for (const Control &c : kControls) {
        if (name == c.name)
            return c;
    }
    return kControls[0];
}

} // namespace WindowLayout
