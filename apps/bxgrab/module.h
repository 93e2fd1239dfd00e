// The control module's registration, as an installer or a first-use host does it: the module
// found beside bxgrab (the build tree and the installed tree both keep it in ../lib), loaded
// and asked to write or remove its classes in the platform's registry.
//
// Thread rule: UI thread only (bxgrab's main thread).
#pragma once

#include <bxplatform/com_types.h>

#include <string>

namespace bxgrab {

// The module bxgrab registers: env BXGRAB_MODULE when set, else libRIROVoruzarUZ.so in the
// lib folder beside bxgrab's bin folder ($ORIGIN/../lib, any versioned name). Empty when none
// is there.
std::string DefaultModulePath();

// Loads `module` and calls its DllRegisterServer (or DllUnregisterServer). `error` gets why the
// module did not load or lacks the entry point (the result is then E_FAIL).
HRESULT CallRegistration(const std::string& module, bool unregister, std::string* error);

// bxgrab register / unregister: prints what was done and the registry file; returns the exit
// code. Throws Failure (kCamera) when the module cannot be found, loaded or registered.
int RunRegister(const std::string& module, bool unregister);

}  // namespace bxgrab
