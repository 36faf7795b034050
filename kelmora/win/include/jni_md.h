/* Machine-dependent JNI definitions for Windows: the types and linkage
 * markers a Windows JDK's jni_md.h declares. Used only by the mingw-w64 build; jni.h itself comes from the
 * host JDK's include directory. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

/* long is 32 bits on Windows, also in 64-bit code. */
typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* _JAVASOFT_JNI_MD_H_ */
