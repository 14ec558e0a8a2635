#pragma once

// What LoadConfigFile needs of the configuration dialog: the News Server field and the two
// newsgroup lists. It says nothing about how the dialog looks or sorts; the Qt dialog implements
// it for real, the tests with a fake.

#include <string>

class CConfigView {
public:
    virtual ~CConfigView() = default;

    // Replaces the News Server field's text.
    virtual void SetServerText(const std::string& text) = 0;
    // Adds a name to the Selected list; false when the list refuses it.
    virtual bool AddSelected(const std::string& name) = 0;
    // Adds a name to the Available list; false when the list refuses it.
    virtual bool AddAvailable(const std::string& name) = 0;
    // Bracket a read that may take a while (a whole server list); a view may show a busy cursor.
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
};
