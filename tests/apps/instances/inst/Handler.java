package inst;

import java.io.Serializable;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;

/** A serialisable proxy handler of the application's own package. */
public class Handler implements InvocationHandler, Serializable {
    private static final long serialVersionUID = 1L;

    public Object invoke(Object proxy, Method method, Object[] args) {
        return "handled " + method.getName();
    }
}
