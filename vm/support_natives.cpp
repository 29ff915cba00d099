// The table of the support classes' natives; see support_natives.h.
#include "vm/support_natives.h"

#include <cstddef>

// The natives are exported under their JNI names by the subsystems; only
// their addresses are needed here, so one declaration shape serves all.
#define QLX_NATIVE(name) extern "C" void JNICALL name();
QLX_NATIVE(Java_com_tarnwick_qlx_EventLog_init)
QLX_NATIVE(Java_com_tarnwick_qlx_EventLog_reportEvent)
QLX_NATIVE(Java_com_tarnwick_qlx_EventLog_finalize)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_getFirstInstance)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_getCurrentInstance)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_getInstances)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_sendObject)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_getReply)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_flush)
QLX_NATIVE(Java_com_tarnwick_qlx_Instances_setReceiver)
QLX_NATIVE(Java_com_tarnwick_qlx_InstancesReplyImpl_set)
QLX_NATIVE(Java_com_tarnwick_qlx_RedirOutputStream_write)
QLX_NATIVE(Java_com_tarnwick_qlx_ServiceStatusManager_getCommandLineArguments)
QLX_NATIVE(Java_com_tarnwick_qlx_ServiceStatusManager_getStartupParameters)
QLX_NATIVE(Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatus)
QLX_NATIVE(Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatusHandler)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_init)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_Show)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_Hide)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_Change)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_finalize)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_init)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2I)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_tarnwick_qlx_SystemTrayMenu_2)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_AppendSeparator)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_Popup)
QLX_NATIVE(Java_com_tarnwick_qlx_SystemTrayMenu_finalize)
#undef QLX_NATIVE

namespace qlx {
namespace {

struct Native {
  const char* name;
  const char* signature;
  void (JNICALL* function)();
};

struct SupportClass {
  const char* name;
  const Native* natives;
  size_t count;
};


const Native kEventLog[] = {
    {"init", "(Ljava/lang/String;Ljava/lang/String;)V", &Java_com_tarnwick_qlx_EventLog_init},
    {"reportEvent", "(III[Ljava/lang/String;[B)V", &Java_com_tarnwick_qlx_EventLog_reportEvent},
    {"finalize", "()V", &Java_com_tarnwick_qlx_EventLog_finalize},
};
const Native kInstances[] = {
    {"getFirstInstance", "()I", &Java_com_tarnwick_qlx_Instances_getFirstInstance},
    {"getCurrentInstance", "()I", &Java_com_tarnwick_qlx_Instances_getCurrentInstance},
    {"getInstances", "()[I", &Java_com_tarnwick_qlx_Instances_getInstances},
    {"sendObject", "(ILjava/io/Serializable;Lcom/tarnwick/qlx/Instances$Reply;)V",
     &Java_com_tarnwick_qlx_Instances_sendObject},
    {"getReply", "()Lcom/tarnwick/qlx/Instances$Reply;", &Java_com_tarnwick_qlx_Instances_getReply},
    {"flush", "()V", &Java_com_tarnwick_qlx_Instances_flush},
    {"setReceiver", "(Lcom/tarnwick/qlx/Instances$ReceiverInterface;)V",
     &Java_com_tarnwick_qlx_Instances_setReceiver},
};
const Native kReply[] = {
    {"set", "(Ljava/io/Serializable;)V", &Java_com_tarnwick_qlx_InstancesReplyImpl_set},
};
const Native kRedirOutputStream[] = {
    {"write", "(I)V", &Java_com_tarnwick_qlx_RedirOutputStream_write},
};
const Native kServiceStatusManager[] = {
    {"getCommandLineArguments", "()[Ljava/lang/String;",
     &Java_com_tarnwick_qlx_ServiceStatusManager_getCommandLineArguments},
    {"getStartupParameters", "()[Ljava/lang/String;",
     &Java_com_tarnwick_qlx_ServiceStatusManager_getStartupParameters},
    {"nativeSetServiceStatus", "(I)V",
     &Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatus},
    {"nativeSetServiceStatusHandler", "(Lcom/tarnwick/qlx/ServiceStatusHandler;)V",
     &Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatusHandler},
};
const Native kSystemTray[] = {
    {"init", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V",
     &Java_com_tarnwick_qlx_SystemTray_init},
    {"Show", "()V", &Java_com_tarnwick_qlx_SystemTray_Show},
    {"Hide", "()V", &Java_com_tarnwick_qlx_SystemTray_Hide},
    {"Change", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V",
     &Java_com_tarnwick_qlx_SystemTray_Change},
    {"finalize", "()V", &Java_com_tarnwick_qlx_SystemTray_finalize},
    {"setSystemTrayCallback", "(Ljava/lang/Object;)V",
     &Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback},
};
const Native kSystemTrayMenu[] = {
    {"init", "()V", &Java_com_tarnwick_qlx_SystemTrayMenu_init},
    {"Append", "(Ljava/lang/String;I)V",
     &Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2I},
    {"Append", "(Ljava/lang/String;Lcom/tarnwick/qlx/SystemTrayMenu;)V",
     &Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_tarnwick_qlx_SystemTrayMenu_2},
    {"AppendSeparator", "()V", &Java_com_tarnwick_qlx_SystemTrayMenu_AppendSeparator},
    {"Popup", "()V", &Java_com_tarnwick_qlx_SystemTrayMenu_Popup},
    {"finalize", "()V", &Java_com_tarnwick_qlx_SystemTrayMenu_finalize},
};

template <size_t N>
constexpr SupportClass supportClass(const char* name, const Native (&natives)[N]) {
  return {name, natives, N};
}

const SupportClass kClasses[] = {
    supportClass("com.tarnwick.qlx.EventLog", kEventLog),
    supportClass("com.tarnwick.qlx.Instances", kInstances),
    supportClass("com.tarnwick.qlx.InstancesReplyImpl", kReply),
    supportClass("com.tarnwick.qlx.RedirOutputStream", kRedirOutputStream),
    supportClass("com.tarnwick.qlx.ServiceStatusManager", kServiceStatusManager),
    supportClass("com.tarnwick.qlx.SystemTray", kSystemTray),
    supportClass("com.tarnwick.qlx.SystemTrayMenu", kSystemTrayMenu),
};

// JNI's FindClass would initialise the class, and its initialiser would
// load the library before the property that tells it not to is set:
// ClassLoader.loadClass loads without initialising.
jclass loadWithoutInit(JNIEnv* env, jobject loader, jmethodID loadClass, const char* name) {
  jstring text = env->NewStringUTF(name);
  if (text == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  jobject cls = env->CallObjectMethod(loader, loadClass, text);
  env->DeleteLocalRef(text);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return nullptr;
  }
  return static_cast<jclass>(cls);
}

}  // namespace

bool bindSupportNatives(JNIEnv* env) {
  jclass loaderClass = env->FindClass("java/lang/ClassLoader");
  jmethodID system = loaderClass == nullptr ? nullptr
                         : env->GetStaticMethodID(loaderClass, "getSystemClassLoader",
                                                  "()Ljava/lang/ClassLoader;");
  jmethodID loadClass = system == nullptr ? nullptr
                            : env->GetMethodID(loaderClass, "loadClass",
                                               "(Ljava/lang/String;)Ljava/lang/Class;");
  jobject loader =
      loadClass == nullptr ? nullptr : env->CallStaticObjectMethod(loaderClass, system);
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (loaderClass != nullptr) env->DeleteLocalRef(loaderClass);
  if (loader == nullptr) return false;

  bool bound = true;
  for (const SupportClass& support : kClasses) {
    jclass cls = loadWithoutInit(env, loader, loadClass, support.name);
    if (cls == nullptr) continue;  // not carried by this application
    JNINativeMethod methods[8];
    for (size_t i = 0; i < support.count; ++i) {
      methods[i].name = const_cast<char*>(support.natives[i].name);
      methods[i].signature = const_cast<char*>(support.natives[i].signature);
      methods[i].fnPtr = reinterpret_cast<void*>(support.natives[i].function);
    }
    if (env->RegisterNatives(cls, methods, static_cast<jint>(support.count)) != JNI_OK) {
      env->ExceptionClear();
      bound = false;
    }
    env->DeleteLocalRef(cls);
  }
  env->DeleteLocalRef(loader);
  return bound;
}

}  // namespace qlx
