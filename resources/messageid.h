#pragma once

// The ids of the string table (strings.txt), one name each, so that code says which text it means
// and a mistyped number cannot compile. Each enumerator carries its line's number: the ids below
// 4000 are quoted by the site builder's documentation and must never change.
enum class MessageId : int {
    // Not in the table: no message, as in "the run recorded no failure".
    None = 0,

    // The remaining time and the run's duration.
    RemainingTimePrefix = 1000,
    OneMinute = 1001,
    MinutesSuffix = 1002,
    SecondsSuffix = 1003,
    AlmostDone = 1004,
    RemainingTimeUnknown = 1005,
    OneSecond = 1006,
    UnderOneSecond = 1007,

    // The result of a run.
    ConnectionFailed = 2000,
    FileNotUploaded = 2001,
    FolderNotCreated = 2002,
    FolderNotEntered = 2003,
    CancelledByUser = 2004,
    LogonFailed = 2005,
    TimedOut = 2006,
    UploadSucceeded = 2008,
    NoHost = 2009,
    NoUserName = 2010,
    NoGeneratedPages = 2011,
    AlreadyRunning = 2012,

    // The summary and the file step's captions.
    FilesCountSuffix = 3000,
    KilobytesSuffix = 3001,
    KilobytesPerSecondSuffix = 3002,
    ReadingFile = 3010,
    DeletingFile = 3020,
    DeletingFolder = 3025,
    UploadingFile = 3030,

    // Start-up and unexpected errors.
    SettingOutOfRange = 4000,
    UnexpectedError = 4001,
    Overflow = 4002,

    // Local files and folders.
    FileNotReadable = 4010,
    FileNotWritable = 4011,
    FileNotFound = 4012,
    FileAccessDenied = 4013,
    FolderNotCreatedLocally = 4014,
    FolderNotPrivate = 4015,
    FolderNotReadable = 4016,
    FolderNotFound = 4017,
    FolderAccessDenied = 4018,
    NoLongerRegularFile = 4019,

    // Debug log notes of the clean-up and the change markers.
    OldLogEntrySkipped = 4020,
    OldLogTooLarge = 4021,
    DeletionSkippedOtherFolder = 4022,
    MarkersDropped = 4024,

    // Names that cannot be published.
    OneNameNotPublished = 4030,
    NamesNotPublished = 4031,
    NameNotPublishedNote = 4032,
    OneFolderNotPublished = 4500,
    NamesWithFoldersNotPublished = 4501,

    // The preview (--dry-run).
    PreviewUpload = 4050,
    PreviewDeleteFile = 4051,
    PreviewDeleteFolder = 4052,
    PreviewSummary = 4053,
    PreviewMassDeletion = 4054,

    // The guard against wiping the site.
    MassDeletionQuestion = 4060,
    MassDeletionRefused = 4061,
    MassDeletionNote = 4062,
    MassDeletionNoteYes = 4063,
    MassDeletionNoteNo = 4064,
    YesButton = 4065,
    NoButton = 4066,

    // The connection and the files on their way.
    ConnectionLost = 4070,
    FileChangedDuringUpload = 4071,
    OldLogUnreadable = 4072,
    DeletionPutOff = 4073,

    // Terminal use.
    Usage = 4100,
    UsageDescription = 4101,
    OptionNoWindow = 4102,
    OptionSettings = 4103,
    OptionHelp = 4104,
    OptionVersion = 4105,
    UnknownArgument = 4106,
    SettingsFileNotFound = 4107,
    SettingsFileUnreadable = 4108,
    SettingsFileNameMissing = 4109,
    ErrorWithNumber = 4110,
    OptionAll = 4111,
    OptionDryRun = 4112,
    OptionAllowMassDelete = 4113,
    WindowUnavailable = 4114,

    // The comparison of contents in the scan.
    UnchangedContentSkipped = 4200,
    // A refused TLS connection: why, after message 2000.
    TlsNoLongerOffered = 4150,
    TlsRequiredButRefused = 4151,
    TlsHandshakeFailed = 4152,
    TlsDataProtectionRefused = 4153,
    CertificateUnusable = 4154,
    CertificateChanged = 4155,
    CertificateNotTheAccepted = 4156,
    CertificateDeclined = 4157,

    // The window's question about a changed certificate.
    CertificateQuestion = 4160,
    CertificateQuestionNew = 4161,
    CertificateQuestionTrusted = 4162,
    CertificateQuestionSubject = 4163,
    CertificateQuestionIssuer = 4164,
    CertificateQuestionValidity = 4165,
    CertificateQuestionAdvice = 4166,

    // A preview that trusted a certificate for this run only.
    PreviewCertificateTrustedOnce = 4170,

    // Terminal use: accepting a changed certificate.
    OptionAcceptCertificate = 4180,
    OptionAcceptCertificateMore = 4181,
    AcceptCertificateMissing = 4182,
    AcceptCertificateInvalid = 4183,
    // Debug log notes of the rule that no deletion is sent on a guess.
    CurrentFolderUnknown = 4120,
    DeletionSkippedUnnamed = 4121,
    DeletionSkippedStillInSite = 4122,
    OldLogEntryOutsideFolder = 4123,
    ServerLogNotRead = 4124,
    DeletionsKeptInLog = 4125,
    // Debug log notes of uploads under a temporary name and of continued uploads.
    DirectUploadsFromNowOn = 4600,
    RenameOntoExistingRefused = 4601,
    LeftoverDeleted = 4602,
    UploadContinued = 4603,
    StoredSizeDiffers = 4604,
    TemporaryNameNotRecorded = 4605,
    DirectUploadsRemembered = 4606,
    // Several connections at once.
    OptionConnections = 4650,
    ConnectionsInvalid = 4651,
    FurtherConnectionRefused = 4652,
    UploadingSideBySide = 4653,
    PathsRefused = 4654,
    FurtherConnectionsNotWorthIt = 4658,
    // Faults that pass, tried again in the same run.
    RetryPending = 4655,
    TryingAgain = 4656,
    RetriesUsedUp = 4657,

    ResultPending = 4700,
    ResultRunning = 4701,
    ResultSucceeded = 4702,
    ResultFailed = 4703,
    StepPending = 4704,
    StepRunning = 4705,
    StepDone = 4706,
    StepFailed = 4707,
    ProgressPanelName = 4708,
    AnimationName = 4709,
    CurrentFileName = 4710,
    OverallProgressName = 4711,
    ResultPanelName = 4712,
    SeparatorName = 4713,
    GlobeName = 4714,
    ReasonName = 4715,
    PreviewListName = 4716,

    LocalFileUnreadable = 4720,
    LocalFileNotRegular = 4721,
    NameWithLineBreak = 4722,
};
