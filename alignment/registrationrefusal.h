// Why a picture analysis of Auto Align gave no map: the loop stops and tells
// the technician instead of stepping the calibration on a guess.
#ifndef REGISTRATIONREFUSAL_H
#define REGISTRATIONREFUSAL_H

enum class RegistrationRefusal
{
    None,
    BadInput,           // empty pictures, unknown pixel format, sizes that do not match
    MissingPicture,     // a channel is black or one flat level
    FrozenStream,       // two pictures that should differ are identical
    FeaturelessThermal, // channel 2 has too little structure to register
    FeaturelessVisible, // channel 1 has too little structure to register
    NoLayer,            // switching fusion on changed nothing that the thermal picture explains
    NoMatch,            // no scale or shift makes the two pictures agree
    TilesDisagree,      // parts of the picture want different maps (depths), none dominates
    NotConverged        // the refinement left the range it was started in
};

inline const char *refusalName(RegistrationRefusal refusal)
{
    switch (refusal) {
    case RegistrationRefusal::None:
        return "None";
    case RegistrationRefusal::BadInput:
        return "BadInput";
    case RegistrationRefusal::MissingPicture:
        return "MissingPicture";
    case RegistrationRefusal::FrozenStream:
        return "FrozenStream";
    case RegistrationRefusal::FeaturelessThermal:
        return "FeaturelessThermal";
    case RegistrationRefusal::FeaturelessVisible:
        return "FeaturelessVisible";
    case RegistrationRefusal::NoLayer:
        return "NoLayer";
    case RegistrationRefusal::NoMatch:
        return "NoMatch";
    case RegistrationRefusal::TilesDisagree:
        return "TilesDisagree";
    case RegistrationRefusal::NotConverged:
        return "NotConverged";
    }
    return "Unknown";
}

#endif // REGISTRATIONREFUSAL_H
