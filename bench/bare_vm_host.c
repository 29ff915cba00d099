/* The least a program must do to run a Java main in its own process: load
 * the VM library, create the VM on the calling thread with the given
 * options, call main, destroy the VM. startup_bench.py runs it with the
 * options a wrapped program gave its VM, so the difference between the two
 * is the launcher's own share of a start.
 *
 *   bare_vm_host LIBJVM MAIN_CLASS [VM_OPTION ...] -- [ARGUMENT ...]
 *
 * Exit code 0 after main (an uncaught exception is printed), 2 when the
 * library cannot be used, 4 when the VM cannot be created, 5 when the main
 * class or its main method cannot be found. */
#include <dlfcn.h>
#include <jni.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef jint(JNICALL *CreateJavaVm)(JavaVM **, void **, void *);

static int fail(JNIEnv *env, int code) {
  if (env != NULL && (*env)->ExceptionCheck(env)) (*env)->ExceptionDescribe(env);
  return code;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s LIBJVM MAIN_CLASS [VM_OPTION ...] -- [ARGUMENT ...]\n", argv[0]);
    return 2;
  }
  int split = 3;
  while (split < argc && strcmp(argv[split], "--") != 0) ++split;
  const int optionCount = split - 3;
  const int firstArgument = split < argc ? split + 1 : argc;

  void *library = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
  CreateJavaVm create = library != NULL ? (CreateJavaVm)dlsym(library, "JNI_CreateJavaVM") : NULL;
  if (create == NULL) {
    fprintf(stderr, "%s: %s\n", argv[1], dlerror());
    return 2;
  }
  JavaVMOption *options = calloc(optionCount > 0 ? optionCount : 1, sizeof *options);
  for (int i = 0; i < optionCount; ++i) options[i].optionString = argv[3 + i];
  JavaVMInitArgs args = {JNI_VERSION_1_2, optionCount, options, JNI_TRUE};
  JavaVM *vm = NULL;
  JNIEnv *env = NULL;
  if (create(&vm, (void **)&env, &args) != JNI_OK) return 4;
  free(options);

  char *name = strdup(argv[2]);
  for (char *c = name; *c != '\0'; ++c)
    if (*c == '.') *c = '/';
  jclass mainClass = (*env)->FindClass(env, name);
  free(name);
  if (mainClass == NULL) return fail(env, 5);
  jmethodID mainMethod =
      (*env)->GetStaticMethodID(env, mainClass, "main", "([Ljava/lang/String;)V");
  if (mainMethod == NULL) return fail(env, 5);
  jclass stringClass = (*env)->FindClass(env, "java/lang/String");
  jobjectArray arguments =
      (*env)->NewObjectArray(env, argc - firstArgument, stringClass, NULL);
  if (arguments == NULL) return fail(env, 4);
  for (int i = firstArgument; i < argc; ++i) {
    jstring text = (*env)->NewStringUTF(env, argv[i]);
    (*env)->SetObjectArrayElement(env, arguments, i - firstArgument, text);
    (*env)->DeleteLocalRef(env, text);
  }
  (*env)->CallStaticVoidMethod(env, mainClass, mainMethod, arguments);
  if ((*env)->ExceptionCheck(env)) (*env)->ExceptionDescribe(env);
  (*vm)->DetachCurrentThread(vm);
  (*vm)->DestroyJavaVM(vm);
  return 0;
}
