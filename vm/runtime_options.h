// What depends on which runtime will run the program, read from the
// runtime's `release` file before the VM is created.
#pragma once

#include <string>

#include "launcher/os.h"

namespace qlx {

// The Java version of the runtime whose VM library is `library`: the
// JAVA_VERSION of the nearest `release` file in the four directories above
// the library (bin/server/jvm.dll, jre/bin/server/jvm.dll,
// lib/server/libjvm.so); empty when there is none.
std::string runtimeVersionOf(Os& os, const std::string& library);

// The feature release of a version text: 8 for "1.8.0_392", 25 for "25";
// 0 when the text holds no number.
int featureRelease(const std::string& version);

// Whether the launcher binds the support classes' natives itself on this
// runtime. Java 24 and later warn (and a later release will refuse) when a
// class path class calls System.load; natives bound with RegisterNatives
// need no load, nor a grant of native access, which would also cost the
// runtime its archived module graph. Earlier runtimes load the library as
// they always did.
bool bindsNativesItself(const std::string& version);

}  // namespace qlx
