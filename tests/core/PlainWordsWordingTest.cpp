// The plain sentences in the command line's words: the same causes, told with the options
// the user typed instead of the window's fields and buttons. The window's own words are
// those PlainWordsTest holds; here they must stay what they are when no wording is asked for.
#include "core/PlainWords.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::test {
namespace {

TPlainWordsFacts CACertFileHolding(TFileContent Content, std::string Label = "") {
  TPlainWordsFacts facts;
  facts.CACertFile = {Content, std::move(Label)};
  return facts;
}

TEST(PlainWordsOfTheCommandLine, EachCauseNamesTheOptionsInsteadOfTheFields) {
  const TFailure noStartLine{
      "Certificate generation failed:\nPEM_read_bio_X509 (CA cert). OpenSSL: "
      "error:0480006C:PEM routines::no start line",
      {"PEM_read_bio_X509 (CA cert)", 9, 108, 0, TFailureKind::NoPEMBlock}};
  struct Case {
    const char* name;
    TFailure failure;
    std::string sentence;
    TPlainWordsFacts facts = {};
  };
  const Case cases[] = {
      {"WrongCAPassword",
       {"PEM_read_bio_PrivateKey (CA). OpenSSL: error:1C800064:Provider routines::bad decrypt",
        {"PEM_read_bio_PrivateKey (CA)", 57, 100, 0, TFailureKind::WrongPassword}},
       "The pass phrase for the CA key is wrong, or the key needs one and none was given; give "
       "the one the key was saved with to --ca-pass."},
      {"CACertificateFileNotLookedAt", noStartLine,
       "The --sign-with file holds no certificate in PEM text form; give the file with the CA's "
       "certificate, which begins with \"-----BEGIN CERTIFICATE-----\"."},
      {"CACertificateFileHoldsAKey", noStartLine,
       "The --sign-with file holds a private key, not a certificate; give the CA's certificate "
       "file to --sign-with and the key file to --sign-key.",
       CACertFileHolding(TFileContent::PrivateKey)},
      {"CACertificateFileIsDER", noStartLine,
       "The --sign-with file is in binary (DER) form, but it must be PEM text; convert it to PEM "
       "and give the converted file.",
       CACertFileHolding(TFileContent::DER)},
      {"CACertificateFileIsABundle", noStartLine,
       "The --sign-with file is a PKCS#12 bundle, but it must be a PEM certificate; save the "
       "CA's certificate from the bundle as PEM and give that file.",
       CACertFileHolding(TFileContent::PKCS12)},
      {"CACertificateFileIsEmpty", noStartLine,
       "The --sign-with file is empty; give the file with the CA's certificate there.",
       CACertFileHolding(TFileContent::Empty)},
      {"CACertificateFileHoldsARequest", noStartLine,
       "The --sign-with file holds a \"CERTIFICATE REQUEST\" block, not a certificate; give the "
       "file with the CA's certificate there.",
       CACertFileHolding(TFileContent::OtherPEM, "CERTIFICATE REQUEST")},
      {"CAKeyOfAnotherPair",
       {"Certificate generation failed:\nThe CA private key does not belong to the CA "
        "certificate.",
        {}},
       "The --sign-key key does not belong to the --sign-with certificate; give the key file "
       "that was made together with this CA certificate."},
      {"HostNameAsIPAddress",
       {"X509V3_EXT_conf_nid nid=85 val=DNS:x,IP:localhost. OpenSSL: error:11000076:X509 V3 "
        "routines::bad ip address",
        {"X509V3_EXT_conf_nid nid=85 val=DNS:x,IP:localhost", 34, 118, 0,
         TFailureKind::BadIPAddress}},
       "The --ip value \"localhost\" is not an IP address; give addresses such as 192.168.1.10 "
       "or ::1 there, and host names to --dns."},
      {"SpaceInADNSName",
       {"The DNS name \"my host\" is not a valid host name: labels hold only letters, digits and "
        "hyphens, neither start nor end with a hyphen, and are 1 to 63 characters long.",
        {}},
       "The --dns value \"my host\" holds a space, which a host name cannot have; use only "
       "letters, digits, hyphens and dots."},
      {"LineBreakInAnAlternativeName",
       {"Invalid subject alternative name \"a.example\nb\".", {}},
       "The alternative name \"a.example\\nb\" holds a line break, which no single name can "
       "have; give each name on its own, without it."},
      {"EmailThatMovesTheSubjectsAddress",
       {"Invalid subject alternative name \"move\".", {}},
       "A --san-email value cannot be just \"move\"; give a full mail address such as "
       "name@example.com."},
      {"StoreFolderNotPermitted",
       {"Cannot create directory \"/srv/velmora/Certificates\": Permission denied.",
        SystemFailure(kStepCreateDirectory, EACCES)},
       "You do not have permission to write in the store folder; give another one with "
       "--store, or get write permission for this one."},
      {"StoreFolderOnAReadOnlyDisk",
       {"Cannot create directory \"/media/cdrom/Certificates\": Read-only file system",
        SystemFailure(kStepCreateDirectory, EROFS)},
       "The store folder is on a read-only disk, so nothing can be saved in it; give --store a "
       "folder on a disk that can be written."},
      {"DiskFullWhileWriting",
       {"Cannot write file \"/srv/store/certificate.crt\". No space left on device",
        SystemFailure(kStepWriteFile, ENOSPC)},
       "The disk is full; free some space on it, or give --store a folder on another disk."},
      {"QuotaUsedUp",
       {"Cannot create file \"/home/u/store/a.crt\". Disk quota exceeded",
        SystemFailure(kStepCreateFile, EDQUOT)},
       "Your disk quota is used up; free some space, or give --store a folder on another disk."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFailure& f = c.failure;
    EXPECT_EQ(PlainSentence(f.Message, f.Cause, c.facts, TWording::CommandLine), c.sentence);
    EXPECT_EQ(WithPlainWords(f.Message, f.Cause, c.facts, TWording::CommandLine),
              c.sentence + "\n\n" + f.Message);
    // The window's words are the default, and they are another text.
    const std::string window = PlainSentence(f.Message, f.Cause, c.facts, TWording::Window);
    EXPECT_EQ(PlainSentence(f.Message, f.Cause, c.facts), window);
    EXPECT_NE(window, c.sentence);
    EXPECT_FALSE(window.empty());
  }
}

}  // namespace
}  // namespace velmora::test
