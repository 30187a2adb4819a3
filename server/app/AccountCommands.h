#pragma once
// rivuzovara ... account add|freeze|unfreeze|list|remove: the maker's (or a
// shop owner's) administration of the accounts, on the command line.
#include "ViewStore.h"

#include <string>
#include <vector>

namespace rivuzovara {

// words: "account", the verb and its arguments (checked by ParseOptions);
// "add NAME -" reads the password from standard input's first line.
// Prints the result on stdout; returns the exit status (0, or 1 with a
// one-line reason on stderr).
int RunAccountCommand(IViewStore& store, const std::vector<std::string>& words);

} // namespace rivuzovara
