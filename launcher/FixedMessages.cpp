// The launcher's four fixed messages in English, in an object of their own:
// pkgtool's tables name them without linking the launcher's endings.
#include "launcher/FatalMessages.h"

namespace stub {

const char16_t kMsgDamaged[] =
    u"An error occurred while trying to read the setup package.  It has most likely been "
    u"damaged.  Please obtain a new copy from the vendor.";
const char16_t kMsgTruncated[] =
    u"The setup package has been truncated.  You most likely have an incomplete download.  "
    u"Try downloading it again.";
const char16_t kMsgCannotCreateCopy[] =
    u"An error occurred while trying to create a temporary copy of the setup package.  Please "
    u"make sure that you have sufficient access rights to this computer to install software and "
    u"that the Windows TEMP folder can be written to.  You can make this installer use a "
    u"different folder for its temporary files using the /temp command line parameter followed "
    u"by the path to a folder you can write to and run applications from.";
const char16_t kMsgCannotExecute[] =
    u"The temporary copy of the setup package could not be executed.  Your system may have a "
    u"software restriction policy in place that blocks executables in the temporary files "
    u"folder.  You can make this installer use a different folder for its temporary files "
    u"using the /temp command line parameter followed by the path to a folder you can write to "
    u"and run applications from.";

}  // namespace stub
