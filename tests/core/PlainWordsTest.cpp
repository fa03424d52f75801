// Errors in plain words: which message gets which sentence, that the message itself follows
// unchanged, what a CA certificate file is found to hold instead, and that the sentences are
// found in the messages the builder and the store really raise.
#include "core/PlainWords.h"
#include "core/RequestChecks.h"
#include "core/StorePaths.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

const std::string kPassword =
    "The password for the CA key is wrong, or the key needs one and none was given; enter the "
    "password the key was saved with.";
const std::string kNoPEMCertificate =
    "The CA certificate file holds no certificate in PEM text form; choose the file with the "
    "CA's certificate, which begins with \"-----BEGIN CERTIFICATE-----\".";
const std::string kKeyAsCertificate =
    "The CA certificate file holds a private key, not a certificate; choose the CA's certificate "
    "file here and give the key file as the CA key.";
const std::string kDERCertificate =
    "The CA certificate file is in binary (DER) form, but it must be PEM text; convert it to PEM "
    "and choose the converted file.";
const std::string kBundleAsCertificate =
    "The CA certificate file is a PKCS#12 bundle, but it must be a PEM certificate; save the "
    "CA's certificate from the bundle as PEM and choose that file.";
const std::string kEmptyCertificateFile =
    "The CA certificate file is empty; choose the file with the CA's certificate.";
const std::string kKeyMismatch =
    "The CA key does not belong to the CA certificate; choose the key file that was made "
    "together with this CA certificate.";
const std::string kIPAdvice =
    "write addresses such as 192.168.1.10 or ::1 there, and put host names among the DNS names.";
const std::string kNoPermission =
    "You do not have permission to write in this folder; choose another store folder, or get "
    "write permission for this one.";
const std::string kReadOnly =
    "This folder is on a read-only disk, so nothing can be saved in it; choose a store folder on "
    "a disk that can be written.";
const std::string kDiskFull =
    "The disk is full; free some space on it, or choose a store folder on another disk.";
const std::string kQuota =
    "Your disk quota is used up; free some space, or choose a store folder on another disk.";

std::string IPAddressSentence(const std::string& Value) {
  return "The IP address field holds \"" + Value + "\", which is not an IP address; " + kIPAdvice;
}

std::string HostNameSentence(const std::string& Name, const std::string& Character) {
  return "The DNS name \"" + Name + "\" holds " + Character +
         ", which a host name cannot have; use only letters, digits, hyphens and dots.";
}

TPlainWordsFacts CACertFileHolding(TFileContent Content, std::string Label = "") {
  TPlainWordsFacts facts;
  facts.CACertFile = {Content, std::move(Label)};
  return facts;
}

// The sentence comes first, then a blank line, then the message exactly as it was.
void ExpectSentenceBefore(const TFailure& Failure, const std::string& Sentence,
                          const TPlainWordsFacts& Facts = {}) {
  EXPECT_EQ(PlainSentence(Failure.Message, Failure.Cause, Facts), Sentence);
  EXPECT_EQ(WithPlainWords(Failure.Message, Failure.Cause, Facts),
            Sentence + "\n\n" + Failure.Message);
}

// The causes as crypto and the store raise them: a libcrypto step with what its codes mean,
// or a system call's step with its errno.
TFailureCause Crypto(const char* Step, TFailureKind Kind) { return {Step, 1, 1, 0, Kind}; }
TFailureCause System(const char* Step, int Errno) { return SystemFailure(Step, Errno); }

const TFailureCause kWrongCAPassword =
    Crypto("PEM_read_bio_PrivateKey (CA)", TFailureKind::WrongPassword);
const TFailureCause kNoCACertificate =
    Crypto("PEM_read_bio_X509 (CA cert)", TFailureKind::NoPEMBlock);

// ---- The table: message as the program words it -> its sentence ----

TEST(PlainWords, EachCommonCauseGetsItsSentenceBeforeTheUnchangedMessage) {
  const TFailure noStartLine{
      "Certificate generation failed:\nPEM_read_bio_X509 (CA cert). OpenSSL: "
      "error:0480006C:PEM routines::no start line",
      kNoCACertificate};
  struct Case {
    const char* name;
    TFailure failure;
    std::string sentence;
    TPlainWordsFacts facts = {};
  };
  const Case cases[] = {
      {"WrongCAPassword",
       {"PEM_read_bio_PrivateKey (CA). OpenSSL: error:1C800064:Provider routines::bad decrypt",
        kWrongCAPassword},
       kPassword},
      {"WrongCAPasswordInTheCommandsBox",
       {"Certificate generation failed:\nPEM_read_bio_PrivateKey (CA). OpenSSL: "
        "error:1C800064:Provider routines::bad decrypt",
        kWrongCAPassword},
       kPassword},
      // The cause decides, not the words: libcrypto's words differ between its versions.
      {"WrongCAPasswordInOtherWords",
       {"PEM_read_bio_PrivateKey (CA). OpenSSL: error:1C800064:Provider routines::mauvais mot",
        kWrongCAPassword},
       kPassword},
      {"CACertificateFileNotLookedAt", noStartLine, kNoPEMCertificate},
      {"CACertificateFileHoldsAKey", noStartLine, kKeyAsCertificate,
       CACertFileHolding(TFileContent::PrivateKey)},
      {"CACertificateFileIsDER", noStartLine, kDERCertificate,
       CACertFileHolding(TFileContent::DER)},
      {"CACertificateFileIsABundle", noStartLine, kBundleAsCertificate,
       CACertFileHolding(TFileContent::PKCS12)},
      {"CACertificateFileIsEmpty", noStartLine, kEmptyCertificateFile,
       CACertFileHolding(TFileContent::Empty)},
      {"CACertificateFileHoldsARequest", noStartLine,
       "The CA certificate file holds a \"CERTIFICATE REQUEST\" block, not a certificate; choose "
       "the file with the CA's certificate.",
       CACertFileHolding(TFileContent::OtherPEM, "CERTIFICATE REQUEST")},
      {"CAKeyOfAnotherPair",
       {"Certificate generation failed:\nThe CA private key does not belong to the CA "
        "certificate.",
        {}},
       kKeyMismatch},
      {"HostNameAsIPAddress",
       {"X509V3_EXT_conf_nid nid=85 val=IP:localhost. OpenSSL: error:11000076:X509 V3 "
        "routines::bad ip address",
        Crypto("X509V3_EXT_conf_nid nid=85 val=IP:localhost", TFailureKind::BadIPAddress)},
       IPAddressSentence("localhost")},
      // libcrypto names the whole list; the sentence names the entry that is no address.
      {"HostNameAmongOtherNames",
       {"X509V3_EXT_conf_nid nid=85 val=critical,DNS:www.example.org,IP:10.0.0.1,IP:::1,IP:"
        "files.example.org,email:a@example.org. OpenSSL: error:11000076:X509 V3 routines::bad "
        "ip address",
        Crypto("X509V3_EXT_conf_nid nid=85 val=critical,DNS:www.example.org,IP:10.0.0.1,IP:::1,"
               "IP:files.example.org,email:a@example.org",
               TFailureKind::BadIPAddress)},
       IPAddressSentence("files.example.org")},
      {"AddressOutOfRange",
       {"X509V3_EXT_conf_nid nid=85 val=IP:10.0.0.300. OpenSSL: error:11000076:X509 V3 "
        "routines::bad ip address",
        Crypto("X509V3_EXT_conf_nid nid=85 val=IP:10.0.0.300", TFailureKind::BadIPAddress)},
       IPAddressSentence("10.0.0.300")},
      {"SpaceInADNSName",
       {"The DNS name \"my host\" is not a valid host name: labels hold only letters, digits and "
        "hyphens, neither start nor end with a hyphen, and are 1 to 63 characters long.",
        {}},
       HostNameSentence("my host", "a space")},
      {"UnderscoreInADNSName",
       {"Warning: The DNS name \"a_b.example\" is not a valid host name: labels hold only "
        "letters, digits and hyphens, neither start nor end with a hyphen, and are 1 to 63 "
        "characters long.",
        {}},
       HostNameSentence("a_b.example", "\"_\"")},
      {"UmlautInADNSName",
       {"The DNS name \"b\xC3\xBC"
        "cher.de\" is not a valid host name: labels hold only letters, "
        "digits and hyphens, neither start nor end with a hyphen, and are 1 to 63 characters "
        "long.",
        {}},
       HostNameSentence("b\xC3\xBC"
                        "cher.de",
                        "\"\xC3\xBC\"")},
      {"LineBreakInAnAlternativeName",
       {"Invalid subject alternative name \"a.example\nb\".", {}},
       "The alternative name \"a.example\\nb\" holds a line break, which no single name can "
       "have; enter each name on its own, without it."},
      {"EmailThatMovesTheSubjectsAddress",
       {"Certificate generation failed:\nInvalid subject alternative name \"move\".", {}},
       "An e-mail alternative name cannot be just \"move\"; enter a full mail address such as "
       "name@example.com."},
      {"StoreFolderNotPermitted",
       {"Cannot create directory \"/srv/velmora/Certificates\": Permission denied.",
        System(kStepCreateDirectory, EACCES)},
       kNoPermission},
      // The system may speak the user's language; its error number is the same.
      {"StoreFileNotPermittedInOtherWords",
       {"Certificate generation failed:\nCannot create file \"/srv/store/private.key\". "
        "Permission non accord\xC3\xA9"
        "e",
        System(kStepCreateFile, EACCES)},
       kNoPermission},
      {"StoreFolderOnAReadOnlyDisk",
       {"Cannot create directory \"/media/cdrom/Certificates\": Read-only file system",
        System(kStepCreateDirectory, EROFS)},
       kReadOnly},
      {"DiskFullWhileWriting",
       {"Certificate generation failed:\nCannot write file \"/srv/store/certificate.crt\". No "
        "space left on device",
        System(kStepWriteFile, ENOSPC)},
       kDiskFull},
      {"QuotaUsedUp",
       {"Cannot create file \"/home/u/store/a.crt\". Disk quota exceeded",
        System(kStepCreateFile, EDQUOT)},
       kQuota},
      {"BundleFileNotPermitted",
       {"BIO_new_file (PFX). OpenSSL: error:8000000D:system library::Permission denied",
        System("BIO_new_file (PFX)", EACCES)},
       kNoPermission},
      {"BundleOnAReadOnlyDisk",
       {"BIO_new_file (PFX). OpenSSL: error:8000001E:system library::Read-only file system",
        System("BIO_new_file (PFX)", EROFS)},
       kReadOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectSentenceBefore(c.failure, c.sentence, c.facts);
  }
}

TEST(PlainWords, OtherMessagesStayAsTheyAre) {
  const std::string unchanged[] = {
      "",
      "CA certificate file not found.",
      "Certificate generation failed:\nPlease specify the CA private key file.",
      "Subject field C = \"USA\". OpenSSL: error:06800097:asn1 encoding routines::string too long",
      // Reading a file is not writing the store; a step other than the CA's is not the CA's.
      "Cannot read file \"/srv/ca/ca.key\". Permission denied",
      "Cannot list the store directory \"/root/store\": Permission denied",
      "PEM_read_bio_X509. OpenSSL: error:0480006C:PEM routines::no start line",
      "PEM_read_bio_PrivateKey (CA). OpenSSL: error:1E08010C:DECODER routines::unsupported",
      "Cannot create directory \"/srv/file.txt/store\": Not a directory.",
      // A path that merely holds the words of a cause is not that cause.
      "Cannot create directory \"/srv/Permission denied\": Not a directory.",
      // The name's labels are wrong, not its characters: the finding says it all.
      "The DNS name \"a..b\" is not a valid host name: labels hold only letters, digits and "
      "hyphens, neither start nor end with a hyphen, and are 1 to 63 characters long.",
      "Invalid subject alternative name \"x\".",
      "X509V3_EXT_conf_nid nid=83 val=critical,CA:TRUE. OpenSSL: error:11000080:X509 V3 "
      "routines::invalid value",
  };
  for (const std::string& message : unchanged) {
    SCOPED_TRACE(message);
    EXPECT_EQ(PlainSentence(message, {}), "");
    EXPECT_EQ(WithPlainWords(message, {}), message);
  }
  // A cause of another step, or of the step with another meaning, is not the common cause.
  const TFailureCause otherCauses[] = {
      Crypto("PEM_read_bio_X509", TFailureKind::NoPEMBlock),
      Crypto("PEM_read_bio_PrivateKey (CA)", TFailureKind::Other),
      Crypto("PEM_read_bio_PrivateKey (CA)", TFailureKind::NoPEMBlock),
      Crypto("X509V3_EXT_conf_nid nid=83 val=IP:x", TFailureKind::BadIPAddress),
      System("read file", EACCES),
      System(kStepCreateDirectory, ENOTDIR),
  };
  for (const TFailureCause& cause : otherCauses) {
    SCOPED_TRACE(cause.Step);
    EXPECT_EQ(PlainSentence("Some failure.", cause), "");
  }
}

// A text that went through the words once (the window's box and its caller both applying
// them) does not get the sentence twice.
TEST(PlainWords, ASentenceAlreadyInFrontIsNotRepeated) {
  const std::string message =
      "PEM_read_bio_PrivateKey (CA). OpenSSL: error:1C800064:Provider routines::bad decrypt";
  const std::string once = WithPlainWords(message, kWrongCAPassword);
  EXPECT_EQ(once, kPassword + "\n\n" + message);
  EXPECT_EQ(WithPlainWords(once, kWrongCAPassword), once);
}

// ---- What a file is found to hold ----

Bytes DERPrivateKey(EVP_PKEY* Key, const char* Password) {
  BIOPtr bio(BIO_new(BIO_s_mem()));
  const EVP_CIPHER* cipher = Password ? EVP_aes_256_cbc() : nullptr;
  if (!bio || i2d_PKCS8PrivateKey_bio(bio.get(), Key, cipher, nullptr, 0, nullptr,
                                      const_cast<char*>(Password)) != 1)
    RaiseOpenSSLError("i2d_PKCS8PrivateKey_bio");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return Bytes(data, data + size);
}

Bytes DERPublicKey(EVP_PKEY* Key) {
  unsigned char* der = nullptr;
  const int size = i2d_PUBKEY(Key, &der);
  if (size <= 0) RaiseOpenSSLError("i2d_PUBKEY");
  Bytes bytes(der, der + size);
  OPENSSL_free(der);
  return bytes;
}

std::string AsText(const Bytes& B) { return std::string(B.begin(), B.end()); }

// What the text of a file is in UTF-16 little-endian, byte-order mark first.
std::string UTF16LE(const std::string& Ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : Ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(ClassifyFileStart, TellsWhatTheFileHoldsInstead) {
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr cert = MakeSelfSignedCert(key.get());
  const std::string keyPEM = KeyToPKCS8PEM(key.get());
  struct Case {
    const char* name;
    std::string bytes;
    TFileContent content;
    std::string label = "";
  };
  const Case cases[] = {
      {"Nothing", "", TFileContent::Empty},
      {"BlanksOnly", " \r\n\t\n", TFileContent::Empty},
      {"PKCS8Key", keyPEM, TFileContent::PrivateKey},
      {"EncryptedPKCS8Key", KeyToPKCS8PEM(key.get(), "secret"), TFileContent::PrivateKey},
      {"TraditionalEncryptedKey", KeyToTraditionalPEM(key.get(), "secret"),
       TFileContent::PrivateKey},
      {"KeyAfterAPreamble", "Bag Attributes\n    localKeyID: 01 02\n" + keyPEM,
       TFileContent::PrivateKey},
      {"KeyAfterAnotherBlock",
       "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n" + keyPEM,
       TFileContent::PrivateKey},
      {"KeyInUTF16", UTF16LE(keyPEM), TFileContent::PrivateKey},
      {"DERKey", AsText(DERPrivateKey(key.get(), nullptr)), TFileContent::PrivateKey},
      {"EncryptedDERKey", AsText(DERPrivateKey(key.get(), "secret")), TFileContent::PrivateKey},
      {"DERCertificate", AsText(CertToDER(cert.get())), TFileContent::DER},
      {"DERPublicKey", AsText(DERPublicKey(key.get())), TFileContent::DER},
      {"Bundle", AsText(MakePKCS12(key.get(), cert.get(), {}, "secret")), TFileContent::PKCS12},
      {"Request", "-----BEGIN CERTIFICATE REQUEST-----\nMIIB\n-----END CERTIFICATE REQUEST-----\n",
       TFileContent::OtherPEM, "CERTIFICATE REQUEST"},
      {"DamagedCertificateBlock", "-----BEGIN CERTIFICATE-----\n!!!\n", TFileContent::Unknown},
      {"PlainText", "Subject: CN=Example CA\n", TFileContent::Unknown},
      // The SEQUENCE tag is the digit "0": a text that starts with digits is still text.
      {"DigitsFirst", "0123456789\n", TFileContent::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFileLook look = ClassifyFileStart(c.bytes);
    EXPECT_EQ(look.Content, c.content);
    EXPECT_EQ(look.PEMLabel, c.label);
  }
}

TEST(LookAtFileStart, ReadsOnlyTheStartOfRegularFiles) {
  TempDir dir;
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const std::string keyPEM = KeyToPKCS8PEM(key.get());
  WriteFile(dir.File("ca.key"), keyPEM);
  EXPECT_EQ(LookAtFileStart(dir.File("ca.key")).Content, TFileContent::PrivateKey);
  // A key beyond the part looked at is not seen: the look stays bounded.
  WriteFile(dir.File("late.pem"), std::string(kFileLookBytes, '#') + "\n" + keyPEM);
  EXPECT_EQ(LookAtFileStart(dir.File("late.pem")).Content, TFileContent::Unknown);
  // Neither a missing file, nor a folder, nor a pipe without a writer (which would block a
  // read) is read.
  EXPECT_EQ(LookAtFileStart(dir.File("absent.crt")).Content, TFileContent::Unknown);
  EXPECT_EQ(LookAtFileStart(dir.Path().string()).Content, TFileContent::Unknown);
  ASSERT_EQ(::mkfifo(dir.File("pipe.crt").c_str(), 0600), 0);
  EXPECT_EQ(LookAtFileStart(dir.File("pipe.crt")).Content, TFileContent::Unknown);
}

// ---- The real messages: the sentences must follow the texts the program raises ----

TFailure FailureOfStep(const std::function<void()>& Step) {
  try {
    Step();
  } catch (const Exception& e) {
    return FailureOf(e);
  }
  ADD_FAILURE() << "the step did not fail";
  return {};
}

std::string SentenceOf(const TFailure& Failure) {
  return PlainSentence(Failure.Message, Failure.Cause);
}

class PlainWordsOfRealFailures : public ::testing::Test {
 protected:
  PlainWordsOfRealFailures() {
    Subject.Subject.CN = "leaf.example";
    Subject.SANDNSNames = {"leaf.example"};
    Subject.GenerateKey();
  }

  TFailure SignedBy(const std::string& CertPEM, const std::string& KeyPEM,
                    const std::string& Password) {
    return FailureOfStep([&] { Subject.BuildSignedBy(CertPEM, KeyPEM, Password); });
  }

  EVP_PKEYPtr CAKey = MakeECKey("P-256");
  X509Ptr CACert = MakeSelfSignedCert(CAKey.get(), "Plain Words CA");
  std::string CACertPEM = CertToPEM(CACert.get());
  std::string CAKeyPEM = KeyToPKCS8PEM(CAKey.get(), "right");
  TCertBuilder Subject;
  TempDir Dir;
};

TEST_F(PlainWordsOfRealFailures, CAKeyPasswordWrongOrMissing) {
  EXPECT_EQ(SentenceOf(SignedBy(CACertPEM, CAKeyPEM, "wrong")), kPassword);
  EXPECT_EQ(SentenceOf(SignedBy(CACertPEM, CAKeyPEM, "")), kPassword);
  const std::string traditional = KeyToTraditionalPEM(CAKey.get(), "right");
  EXPECT_EQ(SentenceOf(SignedBy(CACertPEM, traditional, "")), kPassword);
  EXPECT_EQ(SentenceOf(SignedBy(CACertPEM, traditional, "wrong")), kPassword);
}

// The window and the command line read the CA file as text and hand that to the builder;
// the facts come from the file the user named.
TEST_F(PlainWordsOfRealFailures, CACertificateFileWithoutCertificateSaysWhatItHolds) {
  struct Case {
    const char* name;
    std::string fileBytes;
    std::string sentence;
  };
  const Case cases[] = {
      {"KeyChosenAsCertificate", CAKeyPEM, kKeyAsCertificate},
      {"DERCertificate", AsText(CertToDER(CACert.get())), kDERCertificate},
      {"Bundle", AsText(MakePKCS12(CAKey.get(), CACert.get(), {}, "x")), kBundleAsCertificate},
      {"EmptyFile", "", kEmptyCertificateFile},
      {"Notes", "my CA lives elsewhere\n", kNoPEMCertificate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Dir.File(std::string(c.name) + ".crt");
    WriteFile(file, c.fileBytes);
    // The text as a file reader would hand it over (binary bytes included).
    const TFailure failure = SignedBy(c.fileBytes, CAKeyPEM, "right");
    ExpectSentenceBefore(failure, c.sentence, ObservePlainWordsFacts(failure.Cause, file));
  }
  // Any other failure leaves the CA file unread.
  EXPECT_EQ(
      ObservePlainWordsFacts(SignedBy(CACertPEM, CAKeyPEM, "wrong").Cause, Dir.File("Notes.crt"))
          .CACertFile.Content,
      TFileContent::Unknown);
}

TEST_F(PlainWordsOfRealFailures, CAKeyOfAnotherPair) {
  const EVP_PKEYPtr other = MakeECKey("P-256");
  EXPECT_EQ(SentenceOf(SignedBy(CACertPEM, KeyToPKCS8PEM(other.get()), "")), kKeyMismatch);
}

TEST_F(PlainWordsOfRealFailures, AlternativeNames) {
  Subject.SANDNSNames = {"leaf.example"};
  Subject.SANIPs = {"10.0.0.1", "localhost"};
  EXPECT_EQ(SentenceOf(FailureOfStep([&] { Subject.BuildSelfSigned(); })),
            IPAddressSentence("localhost"));
  Subject.SANIPs.clear();
  Subject.Subject.Email = "leaf@example.org";
  Subject.SANEmails = {"move"};
  EXPECT_EQ(SentenceOf(FailureOfStep([&] { Subject.BuildSelfSigned(); })),
            "An e-mail alternative name cannot be just \"move\"; enter a full mail address such "
            "as name@example.com.");
  // A DNS name with a space is issued as typed; what the checks before issuing say of it is
  // where the user meets it.
  EXPECT_EQ(PlainSentence(DNSNameProblem("my host.example"), {}),
            HostNameSentence("my host.example", "a space"));
  EXPECT_EQ(PlainSentence(DNSNameProblem("a_b.example"), {}),
            HostNameSentence("a_b.example", "\"_\""));
}

// Root may write anywhere; the folder without write permission only stops an ordinary user.
TEST_F(PlainWordsOfRealFailures, StoreFolderWithoutWritePermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "root is never refused by a folder's permissions";
  const std::string locked = Dir.File("locked");
  std::filesystem::create_directory(locked);
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  const TFailure folder = FailureOfStep([&] { CreateStoreDirectory(locked + "/Certificates"); });
  Subject.BuildSelfSigned();
  const TFailure written =
      FailureOfStep([&] { Subject.SaveCertToPEM(locked + "/certificate.crt"); });
  const TFailure bundle =
      FailureOfStep([&] { Subject.SaveToPKCS12(locked + "/certificate.pfx", "x", "x", ""); });
  ::chmod(locked.c_str(), 0755);
  for (const TFailure& failure : {folder, written, bundle})
    EXPECT_EQ(SentenceOf(failure), kNoPermission) << failure.Message;
}

}  // namespace
}  // namespace velmora::test
