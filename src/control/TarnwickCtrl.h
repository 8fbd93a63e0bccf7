// The control object a page creates: the thirteen script methods, the last-error text and the
// list of archives this instance made.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>
#include <ocidl.h>
#include <string>
#include <vector>
#include "digest/CryptoEngine.h"
#include "memfile/ScriptArray.h"

class CTarnwickCtrl : public IDispatch {
public:
    // outer: the object aggregating this one, or null. The new object holds one reference on its
    // own (non-delegating) unknown.
    explicit CTarnwickCtrl(IUnknown* outer = nullptr);
    virtual ~CTarnwickCtrl();

    // The non-delegating unknown: identity and reference count of the control itself. Every
    // other interface's IUnknown methods go to the controlling unknown (the outer object when
    // aggregated, else this one).
    IUnknown* InnerUnknown() { return &m_xInner; }

    // IUnknown (delegating)
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
    std::string GetMemFileHeadSigned(const tarnwick::memfile::MemorySource& lpIDisp, LPCSTR strFileType);         // 8
    std::string GetMemFileSM3(const tarnwick::memfile::MemorySource& lpIDisp, long nWithZValue, LPCSTR strBase64Cert);    // 9
    long GetMemFileSize(const tarnwick::memfile::MemorySource& lpIDisp);                                          // 10
    std::string GetMemMD5FileHeadSigned(LPCSTR strFileInfo, LPCSTR strFileType);      // 11
    std::string GetMemFileSHA256(const tarnwick::memfile::MemorySource& lpIDisp);                                 // 12
    std::string CreateZipFromMemFile(const tarnwick::memfile::MemorySource& lpIDisp, LPCSTR strFileName);         // 13

    // Rendering of service outcomes into m_strLastError; each returns true when the call may go on.
    bool CheckPath(const std::string& path);
    bool ReadMemoryFile(const tarnwick::memfile::MemorySource& source, tarnwick::memfile::MemoryBytes& bytes);
    bool EnsureEngine();
    std::string RenderSm3(const tarnwick::engine::Sm3Outcome& outcome);
    bool TempDirectory(std::string& directory);
    bool WriteTempFile(const std::string& path, const unsigned char* data, size_t size,
                       const char* failureFormat);
    std::string ProbeBytes(const unsigned char* data, size_t size, const std::string& type);
    std::string PackIntoArchive(const std::string& source, const char* failureBox);
    static std::string ArrayReadText(const tarnwick::memfile::ArrayRead& read);
    int FindCreatedFile(const std::string& path);

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

    // IObjectWithSite, for hosts that site a control created from page script.
    class XObjWithSite : public IObjectWithSite {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP SetSite(IUnknown* site) override;
        STDMETHODIMP GetSite(REFIID riid, void** site) override;
    private:
        CTarnwickCtrl* Outer();
    } m_xObjWithSite;

    // The page that hosts the control: found when the control is sited (through either
    // interface); a control never sited has no page and counts as local.
    void SiteChanged(IUnknown* site);
    bool MayScript();                 // the administrator's site list allows the page
    void RefuseSite();                // the text a refused page reads
    bool MayUseNetworkPath(const std::string& path);  // sets the text when not

    std::string m_strLastError;
    std::vector<std::string> m_saCreatedFiles;
    IUnknown* m_pSite = nullptr;      // held while sited through IObjectWithSite
    bool m_bSited = false;
    std::wstring m_strPageUrl;

    // Extra interfaces of the control-container protocol, answered by the OLE layer, which keeps
    // its per-object state (client site, extent, advise sinks) in m_pOle.
    HRESULT QueryOleInterface(REFIID riid, void** ppv);
    struct OleState;
    OleState* m_pOle = nullptr;
    static void DestroyOleState(OleState* state);

private:
    class XInner : public IUnknown {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
    private:
        CTarnwickCtrl* Outer();
    } m_xInner;

    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    IUnknown* m_pControllingUnknown;
    LONG m_refs = 1;
};
