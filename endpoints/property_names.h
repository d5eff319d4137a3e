// The value names the passes read and write, fixed in the program. The rules pass these very
// arrays to the store, and the check tells them apart by their addresses.
#pragma once

namespace endpointfix {

inline constexpr char kDeviceState[] = "DeviceState";  // on a capture endpoint key
inline constexpr char kDescription[] = "{a45c254e-df1c-4efd-8020-67d146a850e0},2";
inline constexpr char kFormFactor[] = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},0";
inline constexpr char kFormat[] = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0";
inline constexpr char kEightByte[] = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},1";

}  // namespace endpointfix
