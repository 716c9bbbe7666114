// Subcommands of lwdctl. Each takes the arguments after its name and returns
// the process exit code.
#pragma once

#include <string>
#include <vector>

namespace lwdctl {

using Args = std::vector<std::string>;

int RunReg(const Args& args);
int RunSend(const Args& args);
int RunListen(const Args& args);
int RunPhone(const Args& args);
int RunContacts(const Args& args);
int RunDevices(const Args& args);
int RunGreeting(const Args& args);
int RunCalls(const Args& args);

}  // namespace lwdctl
