// Device profiles: the file is replaced atomically and only when the device
// answered 0; a profile file is read up to a limit, whatever it is.
#include "zemctl.h"

#include "atomicfile.h"
#include "readfile.h"
#include "zem.h"

namespace zemctl {

// The window's limit for profile files.
inline constexpr std::size_t kMaxProfileFileSize = std::size_t(64) << 20;

int profileGetMain(Context &context, const std::string &fileName)
{
    if (!context.openDevice())
        return context.openError;
    std::string text;
    const std::int32_t result = context.device.getProfile(text);
    const bool toFile = !fileName.empty() && fileName != "-";
    // A -3 still delivers a text, worth showing, but never worth keeping in
    // place of a good file.
    if (result == ZEM_RESULT_VALUE_ERROR && !toFile)
        writeOutput(text);
    if (result != ZEM_RESULT_OK) {
        printError("get_profile returned " + resultName(result)
            + (toFile ? "; " + fileName + " is unchanged" : ""));
        return kExitDevice;
    }
    if (!toFile) {
        writeOutput(text);
    } else if (const std::string error = zem::files::writeFile(fileName, text); !error.empty()) {
        printError(error);
        return kExitFailed;
    }
    return kExitOk;
}

int profileSetMain(Context &context, const std::string &fileName)
{
    std::string text;
    if (const std::string error
        = zem::files::readFile(fileName, kMaxProfileFileSize, "a profile", text);
        !error.empty()) {
        printError(error + "; nothing was sent");
        return kExitInput;
    }
    if (text.find('\0') != std::string::npos) {
        printError(fileName + " holds a zero byte, so it is not a profile; nothing was sent");
        return kExitInput;
    }
    if (!context.openDevice())
        return context.openError;
    const std::int32_t result = context.device.setProfile(text.c_str());
    if (result != ZEM_RESULT_OK) {
        printError("set_profile returned " + resultName(result));
        return kExitDevice;
    }
    return kExitOk;
}

} // namespace zemctl
