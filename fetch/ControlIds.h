#pragma once

// The main window's controls that the fetch worker and the picture browser write, by the ids
// the window gives them.

enum ControlId : int {
    IDC_OVERALL_PROGRESS = 1000,  // one step per group
    IDC_GROUP_PROGRESS = 1001,    // one step per article of the current group
    IDC_GROUP_NAME = 1018,        // the group being processed
    IDC_GROUP_COUNTER = 1019,     // groups done, "%d / %d"
    IDC_ARTICLE_COUNTER = 1020,   // articles of the current group, "%d / %d"
    IDC_PICTURE_NAME = 1021,      // the name of the picture on show
    IDC_PICTURE_COUNTER = 1024,   // picture position and count, "%d / %d"
};
