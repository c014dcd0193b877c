/* A stand-in for the decompressor library whose FDIDestroy always fails, as
   a real one does while it is busy: the extractor's destructor must still
   release the thread slot. POSIX only, found through SELFEX_LIBRARY_PATH. */
#define EXPORT __attribute__((visibility("default")))

static int g_Context;

EXPORT void *FDICreate(void *alloc, void *release, void *open, void *read, void *write, void *close, void *seek,
                       int cpuType, void *erf)
{
    (void)alloc, (void)release, (void)open, (void)read, (void)write, (void)close, (void)seek, (void)cpuType, (void)erf;
    return &g_Context;
}

EXPORT int FDIIsCabinet(void *context, long handle, void *info)
{
    (void)context, (void)handle, (void)info;
    return 0;
}

EXPORT int FDICopy(void *context, char *name, char *path, int flags, void *notify, void *decrypt, void *user)
{
    (void)context, (void)name, (void)path, (void)flags, (void)notify, (void)decrypt, (void)user;
    return 0;
}

EXPORT int FDIDestroy(void *context)
{
    (void)context;
    return 0;
}
