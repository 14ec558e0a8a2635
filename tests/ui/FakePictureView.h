#pragma once

// The main window as the picture browser sees it, for tests: keeps what the name and counter
// boxes hold, every address navigated to and whether the view was cleared since. A hook runs inside
// each navigation, for tests that look at the browser's state while it shows a picture.

#include <functional>
#include <string>
#include <vector>

#include "ui/CPictureView.h"

namespace test {

class FakePictureView : public CPictureView {
public:
    void SetPictureName(const std::string& text) override { name = text; }
    void SetPictureCounter(const std::string& text) override { counter = text; }
    void Navigate(const std::string& pagePath) override {
        navigations.push_back(pagePath);
        cleared = false;
        if (onNavigate) {
            onNavigate();
        }
    }
    void ClearView() override { cleared = true; }

    std::string name;
    std::string counter;
    std::vector<std::string> navigations;
    bool cleared = false;
    std::function<void()> onNavigate;
};

}  // namespace test
