/* A stand-in for a Cabinet.dll planted beside a downloaded package: a DLL of
   that name without the FDI entries. Loading it instead of the system's
   would make Create fail with ERR_CABINET_DLL. */
__declspec(dllexport) int PlantedCabinet(void)
{
    return 1;
}
