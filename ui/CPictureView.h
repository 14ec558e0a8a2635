#pragma once

// What the picture browser needs of the main window: the name box (edit 1021), the counter box
// (edit 1024) and the picture view (1009). The main dialog implements it; tests
// implement a fake. Every call comes from the thread that runs the browser's handlers.

#include <string>

class CPictureView {
public:
    virtual ~CPictureView() = default;

    // Replaces the whole text of the name box.
    virtual void SetPictureName(const std::string& name) = 0;
    // Replaces the whole text of the counter box.
    virtual void SetPictureCounter(const std::string& text) = 0;
    // Shows the page at the full path, reading it afresh even when the path is unchanged.
    virtual void Navigate(const std::string& pagePath) = 0;
    // Shows nothing in the view.
    virtual void ClearView() = 0;
};
