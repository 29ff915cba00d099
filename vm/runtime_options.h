// VM options that depend on which runtime will run the program. They are
// chosen from the runtime's `release` file, before the VM is created,
// because a VM refuses to start on an option it does not know.
#pragma once

#include <string>
#include <vector>

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

// Options to add for the runtime, given what is configured already. The
// support classes load the launcher's natives with System.load, a
// restricted method since Java 17 that later runtimes warn about and will
// refuse: native access is granted to the class path where the runtime
// knows the option, unless the configuration grants it itself.
std::vector<std::string> runtimeOptions(const std::string& version,
                                        const std::vector<std::string>& configured);

}  // namespace qlx
