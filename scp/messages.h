// The codec's and the service's messages (sources "scpecg" and "scpsrv").
// The manufacturer sections' framing messages sit in their section table
// (mfr_framing.h); each of the others is named here once.
#pragma once

#include "lib/messages.h"

namespace msg {

constexpr Message Scpecg(int32_t line, const char* text = nullptr) { return {kSrcScpecg, line, text}; }
constexpr Message Scpsrv(int32_t line, const char* text = nullptr) { return {kSrcScpsrv, line, text}; }

// Container writer.
inline constexpr Message kNoHeapAtStart = Scpecg(1332);
inline constexpr Message kNoHeap = Scpecg(4494, "NO HEAP");
inline constexpr Message kFormatNoHeap = Scpecg(1380);
inline constexpr Message kFormatAllocation = Scpecg(4489);
inline constexpr Message kBufferNull = Scpecg(4445, "SCP-ECG: Buffer NULL");
inline constexpr Message kBufferOverflow = Scpecg(4440, "SCP-ECG: Buffer overflow");
inline constexpr Message kFinalizeSection = Scpecg(1421);

// Container reader (kSectionFailed: text built at the call).
inline constexpr Message kInvalidFileName = Scpecg(1351, "invalid file name");
inline constexpr Message kNotOpenedForRead = Scpecg(1350, "file not opened for read");
inline constexpr Message kSetReadFilePointer = Scpecg(4423, "SCP: SetReadFilePointer");
inline constexpr Message kInvalidSize = Scpecg(4422, "SCP: invalid size");
inline constexpr Message kNotScpFile = Scpecg(4416, "SCP: not SCP file");
inline constexpr Message kHeaderCrc = Scpecg(4415, "SCP: header CRC");
inline constexpr Message kTooManyIndices = Scpecg(4406, "SCP: too many section indices");
inline constexpr Message kIndexMemory = Scpecg(4420);
inline constexpr Message kFilePointer = Scpecg(4837, "SCP-ECG: File pointer error");
inline constexpr Message kSectionReadMemory = Scpecg(4824);
inline constexpr Message kSectionFailed = Scpecg(4830);
inline constexpr Message kSectionMemory = Scpecg(4835);

// Section 1 (kUnkeptTag: text is the latest text value read).
inline constexpr Message kPutDemographics = Scpecg(2311, "SCP-ECG: PutDemographics");
inline constexpr Message kNoSection1 = SystemError("SCP-ECG File does not contain Section 1");
inline constexpr Message kDemographicsLength = Scpecg(1948, "Incorrect SCP length");
inline constexpr Message kDemographicsTermination = Scpecg(1950, "Incorrect termination");
inline constexpr Message kUnkeptTag = Scpecg(1946);
inline constexpr Message kAmbulatoryCode = Scpecg(1746, "Ambulatory");
inline constexpr Message kSmokingCode = Scpecg(1753, "Smoking");
inline constexpr Message kAlcoholCode = Scpecg(1760, "Alcohol");
inline constexpr Message kFamilyCode = Scpecg(1766, "Family");
inline constexpr Message kPacemakerCode = Scpecg(1774, "Pacemaker");
inline constexpr Message kProcedureTypeMemory = Scpecg(4344);
inline constexpr Message kProcedureTypeLength = Scpecg(4336, "Incorrect SCP length");
inline constexpr Message kProcedureTypeTermination = Scpecg(4341, "Incorrect termination");

// Section 2.
inline constexpr Message kPutHuffmanTables = Scpecg(2365, "SCP-ECG: PutHuffmanTables");
inline constexpr Message kPutHuffmanMemory = Scpecg(2364);
inline constexpr Message kHuffmanMemory = Scpecg(2346);
inline constexpr Message kExtraHuffmanData = Scpecg(2324, "SCP-ECG: File contains extra Huffman data");
inline constexpr Message kHuffmanNotSupported = Scpecg(2337, "SCP-ECG: Huffman tables not supported");
inline constexpr Message kGetHuffmanMemory = Scpecg(2333);

// Section 3.
inline constexpr Message kMoreThan31Leads = Scpecg(2510, "SCP-ECG: PutLeadDefinition: more than 31 leads");
inline constexpr Message kPutLeadDefinition = Scpecg(2513, "SCP-ECG: PutLeadDefinition");
inline constexpr Message kPutLeadMemory = Scpecg(2512);
inline constexpr Message kNoRhythmData = Scpecg(2511, "SCP-ECG: no rd");
inline constexpr Message kLeadWaveformMemory = Scpecg(2508);
inline constexpr Message kNotSimultaneous = SystemError("SCP-ECG: File specifies all leads not recorded simultaneously");
inline constexpr Message kMoreThan32Leads = SystemError("SCP-ECG: File specifies more than 32 leads");
inline constexpr Message kMoreLeadsThanDefined = SystemError("SCP-ECG: File specifies more leads than defined");
inline constexpr Message kLeadLimit = SystemError("SCP-ECG: lim error");
inline constexpr Message kGetLeadMemory = Scpecg(2406);

// Section 6, writer.
inline constexpr Message kPutRhythmHeader = Scpecg(2737, "Rhythm section missing header information.");
inline constexpr Message kPutRhythmMemory = Scpecg(2735);
inline constexpr Message kZeroByteCompression = Scpecg(2705, "0 byte compression.");
inline constexpr Message kNotAllChannelsSaved = Scpecg(2713, "Not all channels saved.");
inline constexpr Message kEncodeMemory = Scpecg(2730);
// Section 6, reader.
inline constexpr Message kGetRhythmHeader = Scpecg(2608, "Rhythm section missing header information.");
inline constexpr Message kFirstDifference = Scpecg(2548, "1st difference encoding not supported yet.");
inline constexpr Message kReferenceBeat = Scpecg(2549, "reference beat compression not supported yet.");
inline constexpr Message kInvalidRateQuantumCount = Scpecg(2602, "Invalid SR, QNT, LD CNT");
inline constexpr Message kBimodal = Scpecg(2601, "Have only considerd bimodal compression not used files.");
inline constexpr Message kMissingPointsOrMmx = Scpecg(2574, "Rhythm section missing points or MMX not present.");
inline constexpr Message kMissingLeadData = Scpecg(2577, "Rhythm section missing lead data.");
inline constexpr Message kScaledCopyMemory = Scpecg(2597);
inline constexpr Message kMissingPoints = Scpecg(2587, "Rhythm section missing points.");
inline constexpr Message kMissingLeadDataScaled = Scpecg(2592, "Rhythm section missing lead data.");
inline constexpr Message kGetRhythmMemory = Scpecg(2606);
// Section 6, summary.
inline constexpr Message kSummaryHeader = Scpecg(2650, "Rhythm section missing header information.");
inline constexpr Message kSummaryMemory = Scpecg(2648);

// Section 8.
inline constexpr Message kPutInterpretationMemory = Scpecg(2910);
inline constexpr Message kInterpretationStatus = Scpecg(2848, "Invalid interpretetaion status");
inline constexpr Message kGetInterpretationMemory = Scpecg(2853);

// Manufacturer sections, beside their framing messages (mfr_framing.h).
inline constexpr Message kTrendBuildFailed = Scpecg(3084);
inline constexpr Message kTooManyTrends = Scpecg(3102, "invalid record - too many trends");
inline constexpr Message kTrendSlotsMissing = Scpecg(3152, "SCP-ECG: size limit");
inline constexpr Message kComplexMissing = Scpecg(3364, "SCP-ECG: complex missing");
inline constexpr Message kRhythmSummaryMissing = Scpecg(3471, "SCP-ECG: rhythm summary missing");
inline constexpr Message kRhythmSummaryReadMissing = Scpecg(3426, "rhythm summary missing");
inline constexpr Message kHolterImport = Scpecg(4131, "GetHolterCfgData: invalid record - import");

// Service (kFormatCheck: text built at the call).
inline constexpr Message kNameNull = Scpsrv(137, "Test or File Name NULL");
inline constexpr Message kNameTooLong = Scpsrv(136, "File Name larger than 512 characters");
inline constexpr Message kFormatRecordHeader = Scpsrv(130, "FormatRecordHeader");
inline constexpr Message kSaveLeadDefinition = Scpsrv(90, "PutLeadDefinition");
inline constexpr Message kFinalizeRecordHeader = Scpsrv(129, "FinalizeRecordHeader");
inline constexpr Message kSaveMemory = Scpsrv(134);
inline constexpr Message kSaveOuterMemory = Scpsrv(142);
inline constexpr Message kScpRead = Scpsrv(237, "SCP read");
inline constexpr Message kFetchMemory = Scpsrv(232);
inline constexpr Message kFetchOuterMemory = Scpsrv(242);
inline constexpr Message kFormatCheck = Scpsrv(287);
inline constexpr Message kFormatCheckMemory = Scpsrv(295);
inline constexpr Message kGetProcedureType = Scpsrv(310, "GetProcedureType");
inline constexpr Message kProcedureTypeOuterMemory = Scpsrv(315);

}  // namespace msg
