#pragma once

// The wait cursor for as long as the object lives, over every window of the program: the sign
// that a handler is busy on the user-interface thread. Nothing else.

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
