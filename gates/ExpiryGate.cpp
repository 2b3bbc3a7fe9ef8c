#include "gates/ExpiryGate.h"

#include "package/PackageMessage.h"

namespace stub {

bool IsExpired(const PackageHeader& header, const LocalDate& today) {
  if (header.expiryYear == 0) return false;
  if (header.expiryYear != today.year) return header.expiryYear < today.year;
  if (header.expiryMonth != today.month) return header.expiryMonth < today.month;
  return header.expiryDay <= today.day;
}

void CheckExpiry(const StubContext& context, const PackageHeader& header) {
  if (header.expiryYear == 0) return;  // never expires: the clock is not read
  if (IsExpired(header, context.platform.LocalToday())) {
    ShowPackageMessage(context, header.expiredMessage, nullptr, EndReason::kExpired,
                       LauncherText::kExpired);
  }
}

}  // namespace stub
