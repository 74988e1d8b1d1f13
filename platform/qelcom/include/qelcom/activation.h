// Creating objects by class identity or ProgID, as a host does.
//
// A class is found through the registry file (Registry::DefaultPath()), or,
// when it is not registered there, in the component library beside the
// running executable (libqelStatsLib.so in its folder, then in ../lib).
// Libraries are loaded once per process and stay loaded until
// FreeUnusedLibraries finds that they may go.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qelcom/interfaces.h"

namespace qelcom {

// The exported entry points of an in-process component library.
extern "C" {
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
}

// The class named by a ProgID ("QelStatsLib.QelUnivariate") or by its
// "{...}" text. CO_E_CLASSSTRING when neither the registry nor a library
// beside the executable knows it.
HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid);
// The ProgID of a class, or REGDB_E_CLASSNOTREG.
HRESULT ProgIDFromCLSID(REFCLSID clsid, std::string* progid);

// The class object (factory) of `clsid`. REGDB_E_CLASSNOTREG when no library
// offers the class; CO_E_DLLNOTFOUND when the registered library cannot be
// loaded (error info says why).
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);

// A new object of the class. The object answers on the calling thread only.
HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object);
HRESULT CreateInstance(std::string_view progid_or_clsid, REFIID iid, void** object);

// The calling thread's application object of the class: created on first use
// and shared by every later call on this thread. Classes that are not
// application objects fail with CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetAppObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT GetAppObject(std::string_view progid_or_clsid, REFIID iid, void** object);
// Releases the calling thread's application objects (also done when the thread ends).
void ReleaseAppObjects();

// Unloads every loaded library whose DllCanUnloadNow answers S_OK.
void FreeUnusedLibraries();

// Loads the library at `path` (once per process) and returns its handle,
// or nullptr with error info set.
void* LoadComponentLibrary(const std::string& path);

// The folder of the running executable (from /proc/self/exe).
std::string ExecutableDir();
// Where an unregistered class is looked for, in order.
std::vector<std::string> FallbackLibraryPaths();

}  // namespace qelcom
