// Binds the support classes' natives to the executable's functions with
// RegisterNatives. Java 24 and later warn when a class path class loads a
// native library (and a later release will refuse it); natives bound here
// need no library, so the support classes skip System.load when the
// launcher has bound them ("qlx.natives.bound").
#pragma once

#include <jni.h>

namespace qlx {

// Binds the natives of every support class the system class loader finds;
// classes the application does not carry are passed over. False when a
// class was found but could not be bound (it then loads the library as
// before). Leaves no exception pending.
bool bindSupportNatives(JNIEnv* env);

}  // namespace qlx
