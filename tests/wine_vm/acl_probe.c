/* Prints what Windows (here: Wine) says of a file's or folder's owner and
 * DACL, one line each: "owner SID", "protected 0|1", then "ace TYPE FLAGS
 * MASK SID" per entry. With "open" first, gives Everyone full control
 * instead (the DACL a careless setup leaves), and prints the result. */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

static void print_sid(const char* what, PSID sid) {
  char* text = NULL;
  if (sid != NULL && ConvertSidToStringSidA(sid, &text)) {
    printf("%s %s", what, text);
    LocalFree(text);
  } else {
    printf("%s ?", what);
  }
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* path = argv[argc - 1];
  if (argc == 3 && strcmp(argv[1], "open") == 0) {
    EXPLICIT_ACCESS_A access;
    PACL acl = NULL;
    memset(&access, 0, sizeof access);
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = "EVERYONE";
    if (SetEntriesInAclA(1, &access, NULL, &acl) != ERROR_SUCCESS) return 3;
    DWORD rc = SetNamedSecurityInfoA((char*)path, SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                     NULL, NULL, acl, NULL);
    printf("set %lu\n", (unsigned long)rc);
    if (rc != ERROR_SUCCESS) return 4;
  }
  PSID owner = NULL;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR sd = NULL;
  DWORD rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                   NULL, &dacl, NULL, &sd);
  if (rc != ERROR_SUCCESS) {
    printf("error %lu\n", (unsigned long)rc);
    return 1;
  }
  print_sid("owner", owner);
  printf("\n");
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  printf("protected %d\n", (control & SE_DACL_PROTECTED) ? 1 : 0);
  if (dacl == NULL) printf("dacl null\n");
  for (DWORD i = 0; dacl != NULL && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = NULL;
    if (!GetAce(dacl, i, (void**)&ace)) continue;
    printf("ace %d %d 0x%08lx ", ace->Header.AceType, ace->Header.AceFlags, (unsigned long)ace->Mask);
    print_sid("", (PSID)&ace->SidStart);
    printf("\n");
  }
  LocalFree(sd);
  return 0;
}
