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
#include "Owners.h"

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

    // Script methods, by dispatch id. Texts are UTF-16 from the script to the file system and back.
    using Memory = tarnwick::memfile::MemorySource;
    long GetLocalFileSize(const std::wstring& strFilePath);                                   // 1
    std::wstring GetLocalFileHeadSigned(const std::wstring& strFilePath);                     // 2
    std::wstring CreateZipFromLocalFile(const std::wstring& strFilePath);                     // 3
    long DeleteFileFromCreateZip(const std::wstring& strFilePath);                            // 4
    std::wstring GetLocalFileSHA256(const std::wstring& strFilePath);                         // 5
    std::wstring GetLocalFileSM3(const std::wstring& strFilePath, long nWithZValue,
                                 const std::wstring& strBase64Cert);                          // 6
    std::wstring GetLastErrorInfo();                                                          // 7
    std::wstring GetMemFileHeadSigned(const Memory& lpIDisp, const std::wstring& strFileType);  // 8
    std::wstring GetMemFileSM3(const Memory& lpIDisp, long nWithZValue,
                               const std::wstring& strBase64Cert);                            // 9
    long GetMemFileSize(const Memory& lpIDisp);                                               // 10
    std::wstring GetMemMD5FileHeadSigned(const std::wstring& strFileInfo,
                                         const std::wstring& strFileType);                    // 11
    std::wstring GetMemFileSHA256(const Memory& lpIDisp);                                     // 12
    std::wstring CreateZipFromMemFile(const Memory& lpIDisp, const std::wstring& strFileName);  // 13

    // Rendering of service outcomes into m_strLastError; each returns true when the call may go on.
    bool CheckPath(const std::wstring& path);
    bool ReadMemoryFile(const Memory& source, tarnwick::memfile::MemoryBytes& bytes);
    bool EnsureEngine();
    std::wstring RenderSm3(const tarnwick::engine::Sm3Outcome& outcome);
    bool TempDirectory(std::wstring& directory);
    bool WriteTempFile(const std::wstring& path, const unsigned char* data, size_t size,
                       const wchar_t* failureFormat);
    std::wstring ProbePath(const std::wstring& strFilePath);
    std::wstring ProbeBytes(const unsigned char* data, size_t size, const std::wstring& type);
    std::wstring PackIntoArchive(const std::wstring& source, const wchar_t* failureBox);
    static std::wstring ArrayReadText(const tarnwick::memfile::ArrayRead& read);
    int FindCreatedFile(const std::wstring& path);

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
    bool MayUseNetworkPath(const std::wstring& path);  // sets the text when not

    std::wstring m_strLastError;
    std::vector<std::wstring> m_saCreatedFiles;
    tarnwick::ComPtr<IUnknown> m_site;  // held while sited through IObjectWithSite
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
