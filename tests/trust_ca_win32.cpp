// Adds a DER-encoded CA certificate to the machine's Root store of the Wine
// prefix this runs in, so WinHTTP there trusts the test servers. Only for test
// prefixes: "velnor_trust_ca <ca.der>"; exit code 0 once it is in the store.
#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  std::ifstream in(argc == 2 ? argv[1] : "", std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (der.empty() || !store) return 1;
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return added ? 0 : 1;
}
