// The control object a page creates: the thirteen script methods, the last-error text and the
// list of archives this instance made.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>
#include <string>
#include <vector>

class CTarnwickCtrl : public IDispatch {
public:
    CTarnwickCtrl();
    virtual ~CTarnwickCtrl();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch (the script interface _DTarnwick)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    // Script methods, by dispatch id.
    long GetLocalFileSize(LPCSTR strFilePath);                                        // 1
    std::string GetLocalFileHeadSigned(LPCSTR strFilePath);                           // 2
    std::string CreateZipFromLocalFile(LPCSTR strFilePath);                           // 3
    long DeleteFileFromCreateZip(LPCSTR strFilePath);                                 // 4
    std::string GetLocalFileSHA256(LPCSTR strFilePath);                               // 5
    std::string GetLocalFileSM3(LPCSTR strFilePath, long nWithZValue, LPCSTR strBase64Cert);  // 6
    std::string GetLastErrorInfo();                                                   // 7
    std::string GetMemFileHeadSigned(IDispatch* lpIDisp, LPCSTR strFileType);         // 8
    std::string GetMemFileSM3(IDispatch* lpIDisp, long nWithZValue, LPCSTR strBase64Cert);    // 9
    long GetMemFileSize(IDispatch* lpIDisp);                                          // 10
    std::string GetMemMD5FileHeadSigned(LPCSTR strFileInfo, LPCSTR strFileType);      // 11
    std::string GetMemFileSHA256(IDispatch* lpIDisp);                                 // 12
    std::string CreateZipFromMemFile(IDispatch* lpIDisp, LPCSTR strFileName);         // 13

    // Path checks.
    int ValidateFilePath(const std::string& path);
    BOOL FileExists(const std::string& path);

    // Zip library binding.
    int ZipFile(const std::string& source, const std::string& archiveName,
                const std::string& archiveDirectory);
    int UnzipFile(const std::string& archive, const std::string& directory, unsigned int* count);
    int FindCreatedFile(const std::string& path);

    // Script array bridge.
    HRESULT JSArrayGetAttributeValue(IDispatch* object, LPCOLESTR name, VARIANT* value);
    HRESULT JSArrayGetAt(IDispatch* object, long index, VARIANT* value);
    HRESULT JSArrayReadBytes(IDispatch* object, std::vector<unsigned char>& buffer, long count);
    bool GetMemFileBytes(IDispatch* object, std::vector<unsigned char>& bytes);

    // IObjectSafety, nested as in the control framework: forwards identity to the control.
    class XObjSafe : public IObjectSafety {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported,
                                               DWORD* enabled) override;
        STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;
    private:
        CTarnwickCtrl* Outer();
    } m_xObjSafe;

    std::string m_strLastError;
    std::vector<std::string> m_saCreatedFiles;

    // Extra interfaces of the control-container protocol, answered by the OLE layer, which keeps
    // its per-object state (client site, extent, advise sinks) in m_pOle.
    HRESULT QueryOleInterface(REFIID riid, void** ppv);
    struct OleState;
    OleState* m_pOle = nullptr;
    static void DestroyOleState(OleState* state);

private:
    LONG m_refs = 1;
};
