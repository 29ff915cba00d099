/* The native half of tests/apps/logflood: numbered lines written straight
 * to the process's standard output handle, one write per line, as a native
 * library of an application would. Built for Windows (MinGW) and Linux. */
#include <jni.h>
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

JNIEXPORT void JNICALL Java_logflood_Flood_nativeLines(JNIEnv* env, jclass cls, jstring tag,
                                                       jint from, jint to) {
  const char* text = (*env)->GetStringUTFChars(env, tag, NULL);
  char line[128];
  for (int n = from; n < to; n++) {
    int length = snprintf(line, sizeof line, "%s %d native ................................\n",
                          text, n);
#ifdef _WIN32
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)length, &written, NULL);
#else
    ssize_t ignored = write(1, line, (size_t)length);
    (void)ignored;
#endif
  }
  (*env)->ReleaseStringUTFChars(env, tag, text);
  (void)cls;
}
