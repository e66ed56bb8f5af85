#include "components/WinXP.h"

#include "framework/Exceptions.h"
#include "framework/Forms.h"

// The checks run after the base constructor has put this component on the owner's list; if
// they throw, the base destructor takes it off again.
TWinXP::TWinXP(TComponent* owner) : TComponent(owner) {
    if (!dynamic_cast<TForm*>(owner)) throw Exception("Control parent must be a form!");
    int count = 0;
    for (int i = 0; i < owner->ComponentCount(); ++i)
        if (dynamic_cast<TWinXP*>(owner->Components(i))) ++count;
    if (count > 1) throw Exception("Only one instance of TWinXP allowed on form");
}
