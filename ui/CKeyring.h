#pragma once

// What the password store asks of a keyring: passwords by key under Zarvo's service, each call
// answered before it returns. The store asks the desktop's keyring unless a test puts one of
// its own in its place (CPasswordStore::UseKeyring). It knows nothing of the password file.

#include <string>

class CKeyring {
public:
    virtual ~CKeyring() = default;

    // Whether the keyring is there to be asked.
    virtual bool Usable() = 0;
    // The password under the key; false when it holds none or did not answer.
    virtual bool Read(const std::string& key, std::string& password) = 0;
    // False when the keyring did not take the password.
    virtual bool Write(const std::string& key, const std::string& password) = 0;
    // Removes the entry; one that is not there is as good as removed.
    virtual void Remove(const std::string& key) = 0;
};
