#pragma once

// Keeps the news server's password between runs: in the desktop's keyring through QtKeychain
// (service "zarvo", a key naming the user and the server) when a Secret Service answers on the
// session bus, otherwise in the private password file beside zarvo.cfg (config/PasswordFile.h).
// A keyring that has not answered within KEYRING_WAIT counts as none, and is not asked again
// while the program runs, so that a hung keyring never holds the window for long. It keeps no
// password itself and shows nothing: its callers tell the user.

#include <chrono>
#include <string>

#include "ui/CKeyring.h"

class CPasswordStore {
public:
    static constexpr const char* SERVICE = "zarvo";
    // The longest the window waits for the keyring; the user's input is held back meanwhile.
    static constexpr std::chrono::milliseconds KEYRING_WAIT{3000};

    enum class Place { Nowhere, Keyring, File };

    // The key of a server's password: "user@host:port".
    static std::string KeyFor(const std::string& user, const std::string& hostAndPort);

    // The password stored under the key: the keyring's when it holds one, else the file's
    // (empty when there is none). False, with `error` set for the user, when the file had to be
    // read and was refused.
    static bool Load(const std::string& key, std::string& password, std::string& error);

    // Stores the password under the key: in the keyring when it takes it (an older copy in the
    // file is removed then), else in the file. An empty password is removed from both. `place`
    // says where it went. Once it is stored, the keyring's entry under `previousKey` (the key
    // before the user name or the server changed) goes, so that none is left behind. False,
    // with `error` set for the user, when it could not be stored.
    static bool Save(const std::string& key, const std::string& password, Place& place,
                     std::string& error, const std::string& previousKey = {});

    // Asks `keyring` instead of the desktop's from now on; nullptr goes back to the desktop's.
    static void UseKeyring(CKeyring* keyring);
};
