// The wizard's published fields and handlers: the names its stored definition
// binds, written once for the program and for the stand-ins that tests read the
// same definition into. F is any form class with members of these names.
#pragma once
#include "Classes.h"

template <class F>
inline const TFieldInfo MainFormFieldTable[] = {
    PublishedField<&F::TopPan>("TopPan"),
    PublishedField<&F::TopLbl>("TopLbl"),
    PublishedField<&F::LogoImg>("LogoImg"),
    PublishedField<&F::WPan>("WPan"),
    PublishedField<&F::WelLbl>("WelLbl"),
    PublishedField<&F::LngBx>("LngBx"),
    PublishedField<&F::LPan>("LPan"),
    PublishedField<&F::LicMemo>("LicMemo"),
    PublishedField<&F::LicBx>("LicBx"),
    PublishedField<&F::DPan>("DPan"),
    PublishedField<&F::DstEdt>("DstEdt"),
    PublishedField<&F::BwsBtn>("BwsBtn"),
    PublishedField<&F::PortBx>("PortBx"),
    PublishedField<&F::PortIBtn>("PortIBtn"),
    PublishedField<&F::SPan>("SPan"),
    PublishedField<&F::StartLbl>("StartLbl"),
    PublishedField<&F::Inst2AllBx>("Inst2AllBx"),
    PublishedField<&F::DskBx>("DskBx"),
    PublishedField<&F::IPan>("IPan"),
    PublishedField<&F::FPan>("FPan"),
    PublishedField<&F::FinLbl>("FinLbl"),
    PublishedField<&F::FinBx>("FinBx"),
    PublishedField<&F::BBtn>("BBtn"),
    PublishedField<&F::NBtn>("NBtn"),
    PublishedField<&F::CBtn>("CBtn"),
};

template <class F>
inline const TMethodInfo MainFormMethodTable[] = {
    PublishedMethod<&F::BNClk>("BNClk"),       PublishedMethod<&F::CClk>("CClk"),
    PublishedMethod<&F::LngChg>("LngChg"),     PublishedMethod<&F::BwsClk>("BwsClk"),
    PublishedMethod<&F::PortIClk>("PortIClk"), PublishedMethod<&F::FormCloseQuery>("FormCloseQuery"),
};
