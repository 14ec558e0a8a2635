#pragma once

// Settings for tests that follow a run request by request.

namespace test {

// Writes zarvo.settings in the current folder for the plainest run: one connection, one
// request at a time, every article of every group whatever earlier runs fetched.
void WriteOneRequestAtATimeSettings();

}  // namespace test
