/* c_client.c: a C client of the component, through the C view of its headers: the object made
 * by the class factory, every IMyEncoder slot and the sized ones of IMyEncoder2 called through
 * lpVtbl on the sample typelib's Position record, and a failure's reason from its error object. Prints "N passed, M failed"; the exit status is 0 only when none failed.
 * Usage: c_client PROTO.TLB */
#include <stdio.h>
#include <string.h>

#include "IMyEncoder.h"

static int passed, failed;

static void check(int ok, const char *what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("  FAILED (line %d): %s\n", line, what);
    }
}
#define CHECK(cond) check((cond) != 0, #cond, __LINE__)

#pragma pack(1)
typedef struct {
    float x;
    float y;
    short heading;
} Position; /* type 10 of the sample typelib */
#pragma pack()

static const unsigned char kPositionNet[10] = {0x3F, 0xC0, 0, 0, 0xC0, 0x10, 0, 0, 0x00, 0x5A};
enum { kPositionId = 10 };

static IMyEncoder *create_encoder(void) {
    IMyEncoder *enc = NULL;
#ifdef _WIN32
    CHECK(CoCreateInstance(&CLSID_MyEncoder, NULL, CLSCTX_INPROC_SERVER, &IID_IMyEncoder, (void **)&enc) == S_OK);
#else
    IClassFactory *factory = NULL;
    CHECK(DllGetClassObject(&CLSID_MyEncoder, &IID_IClassFactory, (void **)&factory) == S_OK);
    if (factory == NULL) return NULL;
    CHECK(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IMyEncoder, (void **)&enc) == S_OK);
    CHECK(factory->lpVtbl->Release(factory) == 0);
#endif
    return enc;
}

static void use_encoder(IMyEncoder *enc, const char *typelib) {
    IUnknown *unknown = NULL;
    Position pos = {1.5f, -2.25f, 90}, back;
    char net[32];
    int len = -1;

    CHECK(enc->lpVtbl->QueryInterface(enc, &IID_IUnknown, (void **)&unknown) == S_OK);
    CHECK((void *)unknown == (void *)enc);
    if (unknown != NULL) CHECK(unknown->lpVtbl->Release(unknown) == 1);
    CHECK(enc->lpVtbl->AddRef(enc) == 2);
    CHECK(enc->lpVtbl->Release(enc) == 1);

    CHECK(enc->lpVtbl->LoadLib(enc, "no such file.tlb") == S_FALSE);
    CHECK(enc->lpVtbl->LoadLib(enc, typelib) == S_OK);

    memset(net, 0xEE, sizeof net);
    CHECK(enc->lpVtbl->HostToNet(enc, kPositionId, net, &len, (const char *)&pos, 0) == S_OK);
    CHECK(len == 10 && memcmp(net, kPositionNet, 10) == 0 && (unsigned char)net[10] == 0xEE);

    memset(&back, 0, sizeof back);
    CHECK(enc->lpVtbl->NetToHost(enc, kPositionId, (char *)&back, (const char *)kPositionNet, 10, 0) == S_OK);
    CHECK(memcmp(&back, &pos, sizeof pos) == 0);
    /* Cut network bytes are a failure, 1. */
    CHECK(enc->lpVtbl->NetToHost(enc, kPositionId, (char *)&back, (const char *)kPositionNet, 9, 0) == S_FALSE);

    CHECK(enc->lpVtbl->PrintToFile(enc, "c_client_position.txt", kPositionId, (const char *)&pos, 0) == S_OK);
    {
        char line[128] = {0};
        FILE *fp = fopen("c_client_position.txt", "r");
        CHECK(fp != NULL);
        if (fp != NULL) {
            CHECK(fgets(line, sizeof line, fp) != NULL);
            fclose(fp);
            remove("c_client_position.txt");
        }
        CHECK(strncmp(line, "[Position]:", 11) == 0);
    }
}

/* The description of the thread's error object, narrowed into out (empty when there is none). */
static void take_error(char *out, size_t size) {
    IErrorInfo *info = NULL;
    BSTR text = NULL;
    size_t i = 0;
    out[0] = '\0';
    if (GetErrorInfo(0, &info) != S_OK || info == NULL) return;
    if (info->lpVtbl->GetDescription(info, &text) == S_OK && text != NULL) {
        for (; i + 1 < size && i < SysStringLen(text); ++i) out[i] = (char)text[i];
        out[i] = '\0';
    }
    SysFreeString(text);
    info->lpVtbl->Release(info);
}

static void use_encoder2(IMyEncoder *enc) {
    IMyEncoder2 *enc2 = NULL;
    TavTypeInfo info;
    Position pos = {1.5f, -2.25f, 90};
    char net[16], reason[256];
    int len = -1;

    CHECK(enc->lpVtbl->QueryInterface(enc, &IID_IMyEncoder2, (void **)&enc2) == S_OK);
    if (enc2 == NULL) return;
    CHECK(enc2->lpVtbl->FindTypeByName(enc2, "Position", &info) == S_OK);
    CHECK(info.iDataTypeId == kPositionId && info.iHostSize == (int)sizeof pos && strcmp(info.szName, "Position") == 0);
    CHECK(enc2->lpVtbl->Encode(enc2, kPositionId, 0, (const char *)&pos, sizeof pos, NULL, 0, &len) == S_OK);
    CHECK(len == 10);
    memset(net, 0xEE, sizeof net);
    CHECK(enc2->lpVtbl->Encode(enc2, kPositionId, 0, (const char *)&pos, sizeof pos, net, 9, &len) ==
          HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    CHECK(len == 10 && (unsigned char)net[9] == 0xEE);
    take_error(reason, sizeof reason);
    CHECK(strcmp(reason, "Position: the network form needs 10 bytes; the buffer holds 9") == 0);
    CHECK(enc2->lpVtbl->Encode(enc2, kPositionId, 0, (const char *)&pos, sizeof pos, net, 10, &len) == S_OK);
    CHECK(len == 10 && memcmp(net, kPositionNet, 10) == 0);
    CHECK(FAILED(enc2->lpVtbl->Encode(enc2, 99, 0, (const char *)&pos, sizeof pos, net, 10, &len)));
    take_error(reason, sizeof reason);
    CHECK(strcmp(reason, "the typelib has no type with id 99") == 0);
    CHECK(enc2->lpVtbl->Release(enc2) == 1);
}

int main(int argc, char **argv) {
    IMyEncoder *enc;
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc != 2) {
        fprintf(stderr, "usage: c_client PROTO.TLB\n");
        return 2;
    }
#ifdef _WIN32
    CHECK(SUCCEEDED(CoInitialize(NULL)));
#endif
    enc = create_encoder();
    if (enc != NULL) {
        use_encoder(enc, argv[1]);
        use_encoder2(enc);
        CHECK(enc->lpVtbl->Release(enc) == 0);
    }
#ifdef _WIN32
    CoUninitialize();
#else
    CHECK(DllCanUnloadNow() == S_OK);
#endif
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
