#include "ant/binding/AntLib.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

#include "platform/DebugOutput.h"

namespace {

const char *const kDefaultLibrary = "libANT_DLL.so";

TAntFunctions gFunctions;
void *gHandle = nullptr;
std::mutex gNameMutex;
std::string gLibraryName;

// What reports a missing function; two of the texts have always read differently and are kept
// for whoever searches the log for them.
std::string missingText(const std::string &name)
{
    if (name == "ANT_UnassignAllResponseFunctions")
        return "Error getting procaddres for ANT_UnassignAllResponseFunctions";
    if (name == "ANT_RxExtMesgsEnable")
        return "Error getting procaddress for ANT_RxExtMesgEnable";
    return "Error getting procaddress for " + name;
}

// Every function of the table looked up in `handle`; a missing one is reported and left null.
TAntFunctions tableFrom(void *handle)
{
    TAntFunctions f;
#define FENNICK_ANT_LOOKUP(Name, Result, Params, Args)                                            \
    f.Name = reinterpret_cast<decltype(f.Name)>(::dlsym(handle, #Name));                          \
    if (!f.Name)                                                                                  \
        OutputDebugString(missingText(#Name));
    FENNICK_ANT_FUNCTIONS(FENNICK_ANT_LOOKUP)
#undef FENNICK_ANT_LOOKUP
#define FENNICK_ANT_LOOKUP_OPTIONAL(Name, Result, Params, Args)                                   \
    f.Name = reinterpret_cast<decltype(f.Name)>(::dlsym(handle, #Name));
    FENNICK_ANT_OPTIONAL_FUNCTIONS(FENNICK_ANT_LOOKUP_OPTIONAL)
#undef FENNICK_ANT_LOOKUP_OPTIONAL
    return f;
}

std::string executableDir()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string p(path, size_t(n));
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

void *openLibrary(const std::string &name)
{
    if (void *h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
        return h;
    if (name.find('/') != std::string::npos)
        return nullptr;
    // A bare name not found on the search path: look beside the program, then in the build
    // tree it came from, so a program run from its build folder finds its library.
    const std::string beside = executableDir();
    if (!beside.empty())
        if (void *h = ::dlopen((beside + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
#ifdef FENNICK_ANT_LIBRARY_DIR
    if (void *h = ::dlopen((std::string(FENNICK_ANT_LIBRARY_DIR) + "/" + name).c_str(),
                           RTLD_NOW | RTLD_LOCAL))
        return h;
#endif
    return nullptr;
}

} // namespace

TAntFunctions &AntFunctions()
{
    return gFunctions;
}

void SetAntFunctionsForTesting(const TAntFunctions &functions)
{
    gFunctions = functions;
}

void SetAntLibraryName(const std::string &name)
{
    std::lock_guard lock(gNameMutex);
    gLibraryName = name;
}

std::string AntLibraryName()
{
    {
        std::lock_guard lock(gNameMutex);
        if (!gLibraryName.empty())
            return gLibraryName;
    }
    const char *env = std::getenv("FENNICK_ANT_LIBRARY");
    if (env && *env)
        return env;
    return kDefaultLibrary;
}

namespace {
std::mutex gStickHolderLock;
std::string gStickHolder;
} // namespace

void SetAntStickHolder(const std::string &Holder)
{
    std::lock_guard lock(gStickHolderLock);
    gStickHolder = Holder;
}

std::string AntStickHolder()
{
    std::lock_guard lock(gStickHolderLock);
    return gStickHolder;
}

bool AntLibHandleHeld()
{
    return gHandle != nullptr;
}

bool LoadAntLib()
{
    void *handle = openLibrary(AntLibraryName());
    if (!handle) {
        OutputDebugString("Error loading AntLib");
        return false;
    }
    const TAntFunctions f = tableFrom(handle);

    // A second load must not leave the first handle's reference behind.
    void *previous = gHandle;
    gHandle = handle;
    gFunctions = f;
    if (previous)
        ::dlclose(previous);
    return true;
}

bool UnloadAntLib()
{
    if (!gHandle)
        return false;
    // Cleared first: nothing may call into the library while it goes away.
    const TAntFunctions kept = gFunctions;
    gFunctions = TAntFunctions();
    if (::dlclose(gHandle) != 0) {
        gFunctions = kept;
        return false;
    }
    gHandle = nullptr;
    return true;
}

// ---- null-safe calls -----------------------------------------------------------------------

namespace {

// Calls Fn when present, else gives the result type's zero (false, 0, nothing).
template <typename R, typename... P>
struct TNullSafe {
    R (*Fn)(P...);
    R operator()(P... args) const
    {
        if (Fn)
            return Fn(args...);
        return R();
    }
};

template <typename R, typename... P>
TNullSafe<R, P...> nullSafe(R (*fn)(P...))
{
    return {fn};
}

} // namespace

#define FENNICK_ANT_CALL(Name, Result, Params, Args)                                              \
    Result TAntLib::Name Params { return nullSafe(gFunctions.Name) Args; }
FENNICK_ANT_FUNCTIONS(FENNICK_ANT_CALL)
FENNICK_ANT_OPTIONAL_FUNCTIONS(FENNICK_ANT_CALL)
#undef FENNICK_ANT_CALL

std::string AntLastErrorText()
{
    char text[1024] = {};
    if (!TAntLib::ANT_GetLastErrorText(text, sizeof text))
        return {};
    return text;
}
