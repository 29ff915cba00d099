/* Machine-dependent JNI types for the Windows x86-64 build (MinGW). */
#ifndef QLX_JNI_MD_H
#define QLX_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
