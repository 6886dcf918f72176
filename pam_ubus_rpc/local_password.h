// The local check of a password against the device's password files, used
// when the session service answered without granting or refusing.
#pragma once

namespace pamrpc {

// True when the user exists and password matches its hash (the shadow
// entry's when the password file says "x"). Empty and locked ("!", "*")
// hashes match nothing.
[[nodiscard]] bool local_password_ok(const char *user, const char *password);

} // namespace pamrpc
